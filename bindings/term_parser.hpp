// Parses the Python `terms` list of fit_additive into typed term specifications.
#pragma once

#include <vector>

#include "design/additive_design.hpp"
#include "pybind.hpp"

namespace krelm::bindings {

/// Reads `terms` item by item (re-reading the length each step), stopping at the first
/// invalid term with its ValueError; conversion errors of integers propagate unchanged.
std::vector<TermSpec> parse_terms(const py::list& terms);

}  // namespace krelm::bindings
