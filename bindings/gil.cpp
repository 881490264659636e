// Interrupt checks for long fits.
#include "gil.hpp"

namespace krelm::bindings {

IterationHook interrupt_check() {
  return [] {
    const py::gil_scoped_acquire acquire;
    if (PyErr_CheckSignals() != 0) {
      throw py::error_already_set();
    }
  };
}

}  // namespace krelm::bindings
