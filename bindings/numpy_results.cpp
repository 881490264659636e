// Copies into new NumPy arrays; the caller may change them freely.
#include "numpy_results.hpp"

namespace krelm::bindings {

py::array_t<double> to_numpy(const Vector& vector) {
  return py::array_t<double>(vector.size(), vector.data());
}

py::array_t<double> to_numpy(const RowMatrix& matrix) {
  return py::array_t<double>({matrix.rows(), matrix.cols()}, matrix.data());
}

}  // namespace krelm::bindings
