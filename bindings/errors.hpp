// The single mapping from core errors to Python exceptions, and the internal-fault path.
#pragma once

#include <utility>

#include "error.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

/// Sets the Python exception for `error` (ValueError for InvalidParameter with the bare
/// message, RuntimeError with the display text otherwise) and throws error_already_set.
[[noreturn]] void to_python_exception(const KrelmError& error);

template <class T>
T value_or_raise(Expected<T>&& result) {
  if (!result) {
    to_python_exception(result.error());
  }
  if constexpr (!std::is_void_v<T>) {
    return *std::move(result);
  }
}

/// Raises ValueError with `message` (checks made by the Python surface itself).
[[noreturn]] void raise_value_error(const std::string& message);

/// Raises TypeError "argument '{name}': {problem}".
[[noreturn]] void raise_argument_type_error(std::string_view name, const std::string& problem);

/// Installs the core's internal-fault handler (SystemError carrying the fault's text).
void bind_errors(py::module_& module);

}  // namespace krelm::bindings
