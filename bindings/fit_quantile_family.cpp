// The extended log-F (quantile) row of `fit`: τ is checked before the design is matched,
// the data after it is built; σ and λ_E pass through unchecked, and a value that is not
// > 0 asks the quantile driver to choose it.
#include <string>
#include <utility>

#include "errors.hpp"
#include "fit/quantile.hpp"
#include "fit_drivers.hpp"
#include "format.hpp"
#include "gil.hpp"
#include "pybind.hpp"
#include "single_smooth_design.hpp"

namespace krelm::bindings {

py::object fit_quantile_family(FitArguments&& args) {
  const double tau = args.tau.value_or(0.5);
  if (!(tau > 0.0 && tau < 1.0)) {  // a NaN τ fails too
    raise_value_error("elf/quantile tau must be in (0, 1); got tau=" + format_float(tau));
  }
  const double sigma = args.elf_sigma.value_or(0.0);
  const double lambda = args.elf_lambda.value_or(0.0);
  require_known_design(args.design);
  Design design = build_single_smooth_design(args.design, args.x, args.k);
  const auto x_rows = static_cast<std::size_t>(args.x.rows());
  value_or_raise(check_quantile_data(x_rows, args.y, args.weights, design.penalties.size()));
  Vector y(args.y);  // the fit reads its own copy once the lock is released
  auto fitted = without_gil([&] {
    return fit_quantile(tau, sigma, lambda, std::move(design), x_rows, std::move(y),
                        std::move(args.weights), interrupt_check());
  });
  return py::cast(value_or_raise(std::move(fitted)));
}

}  // namespace krelm::bindings
