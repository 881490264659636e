// Argument conversion at the Python boundary: borrowed views of NumPy float64 arrays
// (no copy, any strides), owned copies where the fit keeps data, integers and floats
// converted the way Python itself does, and TypeErrors that name the argument.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "matrix.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

/// Borrows a 2-D float64 array. `array` must outlive the view.
MatrixView borrow_matrix(const py::object& object, std::string_view name);

/// Borrows a 1-D float64 array. `array` must outlive the view.
VectorView borrow_vector(const py::object& object, std::string_view name);

/// None → nothing; otherwise an owned contiguous copy of a 1-D float64 array.
std::optional<Vector> copy_optional_vector(const py::object& object, std::string_view name);

/// An integer as Python converts an index (int, bool, NumPy integers), 0 … 2⁶⁴ − 1.
/// A negative or too large value raises Python's own OverflowError unchanged.
std::uint64_t to_unsigned(const py::object& object, std::string_view name);

/// None → nothing; otherwise to_unsigned.
std::optional<std::uint64_t> to_optional_unsigned(const py::object& object, std::string_view name);

/// What float() accepts through __float__/__index__; None → nothing.
std::optional<double> to_optional_float(const py::object& object, std::string_view name);

/// A float (None refused).
double to_float(const py::object& object, std::string_view name);

/// A str (or subclass) as UTF-8 text.
std::string to_text(const py::object& object, std::string_view name);

}  // namespace krelm::bindings
