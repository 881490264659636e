// Running core work without the interpreter lock, while still noticing Ctrl-C.
#pragma once

#include <utility>

#include "outer/outer_newton.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

/// Between outer iterations: takes the lock, runs the signal handlers and abandons the
/// fit with the pending exception (KeyboardInterrupt) if one of them raised.
IterationHook interrupt_check();

/// Runs `work` with the interpreter lock released. `work` must not touch Python objects.
template <class Work>
auto without_gil(Work&& work) {
  const py::gil_scoped_release release;
  return std::forward<Work>(work)();
}

}  // namespace krelm::bindings
