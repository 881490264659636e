// Single-smooth designs for `fit` (see the header).
#include "single_smooth_design.hpp"

#include <array>

#include "design/cr_design.hpp"
#include "design/cr_stable_design.hpp"
#include "design/re_design.hpp"
#include "errors.hpp"
#include "fit/data_checks.hpp"

namespace krelm::bindings {

bool is_known_design(const std::string& name) {
  return name == "cr" || name == "re" || name == "cr_stable";
}

void require_known_design(const std::string& name) {
  if (!is_known_design(name)) {
    raise_value_error("design must be 'cr', 're', or 'cr_stable'; got " + name);
  }
}

Design build_single_smooth_design(const std::string& name, const MatrixRef& x, std::uint64_t k) {
  value_or_raise(check_has_columns(x));
  constexpr std::array<std::size_t, 1> first_column = {0};
  value_or_raise(check_covariates_finite(x, first_column));
  const auto basis_size = static_cast<std::size_t>(k);
  if (name == "re") {
    return value_or_raise(build_re_design(x));
  }
  if (name == "cr_stable") {
    return value_or_raise(build_cr_stable_design(x, basis_size));
  }
  return value_or_raise(build_cr_design(x, basis_size));
}

}  // namespace krelm::bindings
