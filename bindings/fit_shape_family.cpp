// The negative binomial, scaled t and Tweedie rows of `fit`: starting-parameter checks
// before the design is matched, the data checks after it is built, the starting vector
// and the call of the shape-aware driver.
#include <cstddef>
#include <string>
#include <utility>

#include "errors.hpp"
#include "family/family.hpp"
#include "fit/shape_driver.hpp"
#include "fit_drivers.hpp"
#include "format.hpp"
#include "gil.hpp"
#include "pybind.hpp"
#include "single_smooth_design.hpp"

namespace krelm::bindings {

namespace {

/// The family with the caller's starting parameters; an argument given as None takes the
/// default.
Family starting_family(FamilyKind kind, const FitArguments& args) {
  Family family;
  family.kind = kind;
  family.theta = args.theta.value_or(2.0);
  family.nu = args.nu.value_or(5.0);
  family.sigma2 = args.sigma2.value_or(1.0);
  family.power = args.tweedie_p.value_or(1.5);
  family.phi = args.tweedie_phi.value_or(1.0);
  return family;
}

/// The checks made before the design name is looked at, comparisons as written: a NaN θ
/// passes here and is refused with the data checks; a NaN p fails.
void check_before_design(const Family& family) {
  if (family.kind == FamilyKind::NegBin && family.theta <= 0.0) {
    raise_value_error("negbin theta must be > 0; got theta=" + format_float(family.theta));
  }
  if (family.kind == FamilyKind::Tweedie && !(family.power > 1.0 && family.power < 2.0)) {
    raise_value_error("tweedie p must be in (1, 2); got tweedie_p=" + format_float(family.power));
  }
}

}  // namespace

py::object fit_shape_family(FamilyKind kind, FitArguments&& args) {
  const Family family = starting_family(kind, args);
  check_before_design(family);
  require_known_design(args.design);
  Design design = build_single_smooth_design(args.design, args.x, args.k);
  const auto x_rows = static_cast<std::size_t>(args.x.rows());
  value_or_raise(
      check_shape_aware_data(family, x_rows, args.y, args.weights, design.penalties.size()));
  const Vector start = shape_start_vector(family);
  Vector y(args.y);  // the fit reads its own copy once the lock is released
  auto fitted = without_gil([&] {
    return fit_shape_aware(kind, std::move(design), x_rows, std::move(y), std::move(args.weights),
                           start, interrupt_check());
  });
  return py::cast(value_or_raise(std::move(fitted)));
}

}  // namespace krelm::bindings
