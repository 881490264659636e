// `fit_additive`: several smooth terms, parsed from a Python list into typed term specs.
#pragma once

#include "pybind.hpp"

namespace krelm::bindings {

void bind_fit_additive(py::module_& module);

}  // namespace krelm::bindings
