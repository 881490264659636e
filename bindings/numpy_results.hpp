// Fresh NumPy arrays that own copies of core vectors and matrices.
#pragma once

#include "matrix.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

py::array_t<double> to_numpy(const Vector& vector);
py::array_t<double> to_numpy(const RowMatrix& matrix);

}  // namespace krelm::bindings
