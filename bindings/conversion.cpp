// Argument conversion (see the header).
#include "conversion.hpp"

#include "errors.hpp"

namespace krelm::bindings {

namespace {

constexpr auto item_size = static_cast<py::ssize_t>(sizeof(double));

py::array checked_float64_array(const py::object& object, std::string_view name, py::ssize_t ndim,
                                const char* expected) {
  if (!py::isinstance<py::array_t<double>>(object)) {
    raise_argument_type_error(name, std::string("expected ") + expected);
  }
  auto array = py::reinterpret_borrow<py::array>(object);
  if (array.ndim() != ndim) {
    raise_argument_type_error(name, std::string("expected ") + expected + "; got " +
                                        std::to_string(array.ndim()) + " dimensions");
  }
  for (py::ssize_t axis = 0; axis < ndim; ++axis) {
    if (array.strides(axis) % item_size != 0) {
      // A float64 field of a structured array can have a stride that is not a whole
      // number of doubles; a strided view cannot describe it.
      raise_argument_type_error(
          name, std::string("expected ") + expected + " whose strides are multiples of 8 bytes");
    }
  }
  return array;
}

}  // namespace

MatrixView borrow_matrix(const py::object& object, std::string_view name) {
  const py::array array = checked_float64_array(object, name, 2, "a 2-D float64 array");
  return {static_cast<const double*>(array.data()), array.shape(0), array.shape(1),
          Strides(array.strides(0) / item_size, array.strides(1) / item_size)};
}

VectorView borrow_vector(const py::object& object, std::string_view name) {
  const py::array array = checked_float64_array(object, name, 1, "a 1-D float64 array");
  return {static_cast<const double*>(array.data()), array.shape(0),
          Eigen::InnerStride<Eigen::Dynamic>(array.strides(0) / item_size)};
}

std::optional<Vector> copy_optional_vector(const py::object& object, std::string_view name) {
  if (object.is_none()) {
    return std::nullopt;
  }
  return Vector(borrow_vector(object, name));
}

std::uint64_t to_unsigned(const py::object& object, std::string_view name) {
  if (object.is_none()) {
    raise_argument_type_error(name, "expected an integer; got None");
  }
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr()));
  if (!index) {
    const std::string problem =
        std::string("expected an integer; got ") + Py_TYPE(object.ptr())->tp_name;
    PyErr_Clear();
    raise_argument_type_error(name, problem);
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.ptr());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    throw py::error_already_set();  // Python's own OverflowError, unchanged
  }
  return static_cast<std::uint64_t>(value);
}

std::optional<std::uint64_t> to_optional_unsigned(const py::object& object, std::string_view name) {
  if (object.is_none()) {
    return std::nullopt;
  }
  return to_unsigned(object, name);
}

double to_float(const py::object& object, std::string_view name) {
  if (object.is_none()) {
    raise_argument_type_error(name, "expected a float; got None");
  }
  const double value = PyFloat_AsDouble(object.ptr());
  if (value == -1.0 && PyErr_Occurred() != nullptr) {
    const std::string problem =
        std::string("expected a float; got ") + Py_TYPE(object.ptr())->tp_name;
    PyErr_Clear();
    raise_argument_type_error(name, problem);
  }
  return value;
}

std::optional<double> to_optional_float(const py::object& object, std::string_view name) {
  if (object.is_none()) {
    return std::nullopt;
  }
  return to_float(object, name);
}

std::string to_text(const py::object& object, std::string_view name) {
  if (!PyUnicode_Check(object.ptr())) {
    raise_argument_type_error(name,
                              std::string("expected str; got ") + Py_TYPE(object.ptr())->tp_name);
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object.ptr(), &size);
  if (data == nullptr) {
    throw py::error_already_set();  // the encoding error, unchanged
  }
  return {data, static_cast<std::size_t>(size)};
}

}  // namespace krelm::bindings
