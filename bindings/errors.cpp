// to_python_exception and the internal-fault translation.
#include "errors.hpp"

#include <exception>
#include <string>

#include "internal_fault.hpp"

namespace krelm::bindings {

namespace {

// Carries a broken-invariant text from the core to the translator below.
class InternalFaultException : public std::exception {
 public:
  explicit InternalFaultException(std::string message) : message_(std::move(message)) {}
  [[nodiscard]] const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

[[noreturn]] void throw_internal_fault(const std::string& message) {
  throw InternalFaultException(message);
}

}  // namespace

void to_python_exception(const KrelmError& error) {
  if (const auto* invalid = std::get_if<InvalidParameter>(&error.value)) {
    PyErr_SetString(PyExc_ValueError, invalid->message.c_str());
  } else {
    PyErr_SetString(PyExc_RuntimeError, error.display().c_str());
  }
  throw py::error_already_set();
}

void raise_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  throw py::error_already_set();
}

void raise_argument_type_error(std::string_view name, const std::string& problem) {
  const std::string message = "argument '" + std::string(name) + "': " + problem;
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw py::error_already_set();
}

void bind_errors(py::module_& /*module*/) {
  set_internal_fault_handler(&throw_internal_fault);
  py::register_exception_translator([](std::exception_ptr pointer) {
    try {
      if (pointer) {
        std::rethrow_exception(pointer);
      }
    } catch (const InternalFaultException& fault) {
      PyErr_SetString(PyExc_SystemError, fault.what());
    }
  });
}

}  // namespace krelm::bindings
