// Benchmark-only module functions (see benchmark_hooks.cpp).
#pragma once

#include "pybind.hpp"

namespace krelm::bindings {

void bind_benchmark_hooks(py::module_& module);

}  // namespace krelm::bindings
