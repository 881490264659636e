// The design table of `fit`: "cr", "re" and "cr_stable", each reading column 0 of x.
#pragma once

#include <cstdint>
#include <string>

#include "design/design.hpp"
#include "matrix.hpp"

namespace krelm::bindings {

/// True for "cr", "re" and "cr_stable" (exact, case-sensitive).
[[nodiscard]] bool is_known_design(const std::string& name);

/// ValueError "design must be 'cr', 're', or 'cr_stable'; got {design}" for other names.
void require_known_design(const std::string& name);

/// Refuses an x without columns or with a non-finite value in column 0, then builds the
/// named design; builder errors go through to_python_exception.
Design build_single_smooth_design(const std::string& name, const MatrixRef& x, std::uint64_t k);

}  // namespace krelm::bindings
