// Family rows whose drivers are not available in this build yet.
#include "errors.hpp"
#include "fit_drivers.hpp"

namespace krelm::bindings {

namespace {
[[noreturn]] void not_available(const char* family) {
  PyErr_SetString(PyExc_NotImplementedError,
                  (std::string(family) + " fits are not available in this build").c_str());
  throw py::error_already_set();
}
}  // namespace

py::object fit_shape_family(FamilyKind kind, FitArguments&& /*args*/) {
  not_available(std::string(display_name(kind)).c_str());
}
py::object fit_ocat_family(FitArguments&& /*args*/) { not_available("Ocat"); }
py::object fit_quantile_family(FitArguments&& /*args*/) { not_available("ELF"); }

}  // namespace krelm::bindings
