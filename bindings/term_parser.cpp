// Term parsing for fit_additive (see the header).
#include "term_parser.hpp"

#include <string>

#include "conversion.hpp"
#include "errors.hpp"

namespace krelm::bindings {

namespace {

constexpr std::uint64_t default_basis_size = 10;

std::string term_prefix(std::size_t index) { return "fit_additive: term " + std::to_string(index); }

// An integer converted like `k`; a failure propagates as Python raised it.
std::uint64_t integer_unchanged(const py::handle& element) {
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(element.ptr()));
  if (!index) {
    throw py::error_already_set();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.ptr());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    throw py::error_already_set();
  }
  return static_cast<std::uint64_t>(value);
}

std::string basis_name(const py::tuple& item) {
  const py::object name = item[1];
  if (!PyUnicode_Check(name.ptr())) {
    PyErr_SetString(PyExc_TypeError,
                    (std::string("expected str; got ") + Py_TYPE(name.ptr())->tp_name).c_str());
    throw py::error_already_set();
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(name.ptr(), &size);
  if (data == nullptr) {
    throw py::error_already_set();
  }
  return {data, static_cast<std::size_t>(size)};
}

TermSpec parse_tensor(const py::tuple& item, std::size_t index) {
  const std::string prefix = "fit_additive: tensor term " + std::to_string(index);
  if (!PyTuple_Check(item[0].ptr())) {
    raise_value_error(prefix + " first element must be a (col_a, col_b) tuple");
  }
  const auto columns = py::reinterpret_borrow<py::tuple>(item[0]);
  if (columns.size() != 2) {
    raise_value_error(prefix + " cols tuple must have exactly 2 elements");
  }
  TensorTermSpec spec{integer_unchanged(columns[0]), integer_unchanged(columns[1]),
                      default_basis_size, default_basis_size};
  if (item.size() >= 3) {
    if (!PyTuple_Check(item[2].ptr())) {
      raise_value_error(prefix + " k must be a (k_a, k_b) tuple");
    }
    const auto sizes = py::reinterpret_borrow<py::tuple>(item[2]);
    if (sizes.size() != 2) {
      raise_value_error(prefix + " k tuple must have exactly 2 elements");
    }
    spec.k_a = integer_unchanged(sizes[0]);
    spec.k_b = integer_unchanged(sizes[1]);
  }
  return spec;
}

TermSpec parse_univariate(const py::tuple& item, const std::string& basis, std::size_t index) {
  std::uint64_t column = 0;
  try {
    column = integer_unchanged(item[0]);
  } catch (const py::error_already_set&) {
    raise_value_error("fit_additive: univariate term " + std::to_string(index) +
                      " first element must be an integer column index");
  }
  const auto basis_size = [&item]() {
    return item.size() >= 3 ? integer_unchanged(item[2]) : default_basis_size;
  };
  if (basis == "cr_stable") {
    return CrStableTermSpec{column, basis_size()};
  }
  if (basis == "cr") {
    return CrTermSpec{column, basis_size()};
  }
  if (basis == "re") {
    return ReTermSpec{column};
  }
  raise_value_error(term_prefix(index) + " basis must be 'cr', 'cr_stable', 're', or 'te'; got " +
                    basis);
}

}  // namespace

std::vector<TermSpec> parse_terms(const py::list& terms) {
  std::vector<TermSpec> specs;
  specs.reserve(static_cast<std::size_t>(PyList_GET_SIZE(terms.ptr())));
  // A user object's __index__ or __repr__ may shrink the list while it is read.
  for (std::size_t index = 0; static_cast<Py_ssize_t>(index) < PyList_GET_SIZE(terms.ptr());
       ++index) {
    const py::object item = py::reinterpret_borrow<py::object>(PyList_GET_ITEM(terms.ptr(), index));
    if (!PyTuple_Check(item.ptr())) {
      const std::string shown = py::repr(item);
      raise_value_error(term_prefix(index) + " must be a tuple; got " + shown);
    }
    const auto tuple = py::reinterpret_borrow<py::tuple>(item);
    if (tuple.size() < 2) {
      raise_value_error(term_prefix(index) + " tuple must have at least 2 elements");
    }
    const std::string basis = basis_name(tuple);
    if (basis == "te") {
      specs.push_back(parse_tensor(tuple, index));
    } else {
      specs.push_back(parse_univariate(tuple, basis, index));
    }
  }
  return specs;
}

}  // namespace krelm::bindings
