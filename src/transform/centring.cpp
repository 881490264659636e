// Penalty scaling and the Householder null-space basis of the sum-to-zero constraint.
#include "centring.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "../internal_fault.hpp"

namespace krelm {

namespace {

// Below this norm the constraint vector is treated as zero (machine epsilon, 2⁻⁵²).
constexpr double zero_constraint_norm = std::numeric_limits<double>::epsilon();

double largest_abs_row_sum(const RowMatrix& matrix) {
  double largest = 0.0;
  for (Eigen::Index r = 0; r < matrix.rows(); ++r) {
    double row_sum = 0.0;
    for (Eigen::Index c = 0; c < matrix.cols(); ++c) {
      row_sum += std::abs(matrix(r, c));
    }
    largest = std::max(largest, row_sum);
  }
  return largest;
}

}  // namespace

RowMatrix scale_penalty(const RowMatrix& raw_basis, const RowMatrix& penalty) {
  const double basis_norm = largest_abs_row_sum(raw_basis);
  const double penalty_norm = largest_abs_row_sum(penalty);
  const double factor = penalty_norm > 0.0 ? basis_norm * basis_norm / penalty_norm : 1.0;
  return factor * penalty;
}

Vector column_sums(const RowMatrix& matrix) {
  Vector sums = Vector::Zero(matrix.cols());
  for (Eigen::Index r = 0; r < matrix.rows(); ++r) {
    for (Eigen::Index c = 0; c < matrix.cols(); ++c) {
      sums(c) += matrix(r, c);
    }
  }
  return sums;
}

RowMatrix centring_from_constraint(const Vector& g) {
  const Eigen::Index size = g.size();
  if (size < 1) {
    internal_fault("centring_from_constraint: the constraint vector is empty");
  }
  double squared_norm = 0.0;
  for (Eigen::Index i = 0; i < size; ++i) {
    squared_norm += g(i) * g(i);
  }
  const double norm = std::sqrt(squared_norm);
  RowMatrix centring = RowMatrix::Zero(size, size - 1);
  if (norm < zero_constraint_norm) {
    centring.topRows(size - 1).setIdentity();
    return centring;
  }
  // v = g + sign(g_0)·‖g‖·e_0 (sign chosen against cancellation); H = I − w·v·vᵀ maps g onto
  // the first axis, so its other columns span gᵀβ = 0.
  Vector v = g;
  v(0) = g(0) >= 0.0 ? g(0) + norm : g(0) - norm;
  double v_squared = 0.0;
  for (Eigen::Index i = 0; i < size; ++i) {
    v_squared += v(i) * v(i);
  }
  const double w = 2.0 / v_squared;
  for (Eigen::Index r = 0; r < size; ++r) {
    for (Eigen::Index c = 0; c < size - 1; ++c) {
      const double identity = r == c + 1 ? 1.0 : 0.0;
      centring(r, c) = identity - (v(r) * w) * v(c + 1);
    }
  }
  return centring;
}

}  // namespace krelm
