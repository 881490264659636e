// Dense matrix and vector aliases shared by the whole core. Every matrix we own is
// row-major; borrowed NumPy data arrives as strided views.
#pragma once

#include <Eigen/Dense>
#include <cstddef>
#include <span>
#include <vector>

namespace krelm {

using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using Vector = Eigen::VectorXd;

using Strides = Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>;
/// Borrowed read-only matrix, any strides (NumPy input). Never copies.
using MatrixView = Eigen::Map<const RowMatrix, Eigen::Unaligned, Strides>;
/// Borrowed read-only vector, any stride.
using VectorView = Eigen::Map<const Vector, Eigen::Unaligned, Eigen::InnerStride<Eigen::Dynamic>>;

/// Parameter type for functions that read a borrowed or owned matrix without copying.
using MatrixRef = Eigen::Ref<const RowMatrix, 0, Strides>;
/// Parameter type for functions that read a borrowed or owned vector without copying.
using VectorRef = Eigen::Ref<const Vector, 0, Eigen::InnerStride<Eigen::Dynamic>>;

}  // namespace krelm
