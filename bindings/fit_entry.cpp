// `fit`: the single-smooth entry point and the only place where a family is chosen by
// name. Converts the arguments, checks the family parameters, builds the design and
// hands everything to the family's driver.
#include <string>

#include "conversion.hpp"
#include "errors.hpp"
#include "family_table.hpp"
#include "fit/fitted_gam.hpp"
#include "fit/glm_driver.hpp"
#include "fit_arguments.hpp"
#include "fit_drivers.hpp"
#include "gil.hpp"
#include "pybind.hpp"
#include "single_smooth_design.hpp"

namespace krelm::bindings {

namespace {

constexpr const char* fit_docstring =
    R"(fit(family_name, x, y, weights=None, k=10, design="cr", theta=None, nu=None, sigma2=None, tweedie_p=None, tweedie_phi=None, r=None, tau=None, elf_sigma=None, elf_lambda=None)
--

Fit a krelm GAM with one smooth of the first column of x. This is the only
string-keyed entry into the typed core: `family_name` becomes a typed family here.

Accepted family names and the typed family each becomes:
  "gaussian"                              -> gaussian_identity()
  "bernoulli", "binomial"                 -> bernoulli_logit()
  "poisson"                               -> poisson_log()
  "quasipoisson"                          -> quasipoisson_log()
  "quasibinomial"                         -> quasibinomial_logit()
  "gamma"                                 -> gamma_log()
  "inverse_gaussian", "inverse.gaussian"  -> inverse_gaussian_log()
  "negbin", "nb"                          -> negbin_log(theta=2.0)
  "tdist", "scat"                         -> tdist_identity(nu=5, sigma2=1)
  "tweedie", "tw"                         -> tweedie_log(p=1.5, phi=1)
  "ocat"                                  -> ocat_identity(n_cats=r) (requires `r`)
  "elf", "quantile"                       -> elf_identity(tau=0.5) (auto-tuned warm start)

`design` accepts "cr" (default), "re" or "cr_stable".
Returns a FittedGam.)";

py::object fit_entry(const py::object& family_name, const py::object& x, const py::object& y,
                     const py::object& weights, const py::object& k, const py::object& design,
                     const py::object& theta, const py::object& nu, const py::object& sigma2,
                     const py::object& tweedie_p, const py::object& tweedie_phi,
                     const py::object& r, const py::object& tau, const py::object& elf_sigma,
                     const py::object& elf_lambda) {
  FitArguments args =
      convert_fit_arguments(family_name, x, y, weights, k, design, theta, nu, sigma2, tweedie_p,
                            tweedie_phi, r, tau, elf_sigma, elf_lambda);
  const auto row = find_family(args.family_name);
  if (!row) {
    raise_value_error("unknown family " + args.family_name +
                      "; supported: gaussian, bernoulli, poisson, quasipoisson, quasibinomial, "
                      "gamma, inverse_gaussian, negbin, tdist, tweedie, ocat, elf");
  }
  switch (row->driver) {
    case Driver::Glm:
      return fit_glm_family(row->kind, std::move(args));
    case Driver::ShapeAware:
      return fit_shape_family(row->kind, std::move(args));
    case Driver::Ocat:
      return fit_ocat_family(std::move(args));
    case Driver::Quantile:
      return fit_quantile_family(std::move(args));
  }
  return py::none();
}

}  // namespace

py::object fit_glm_family(FamilyKind kind, FitArguments&& args) {
  require_known_design(args.design);
  Design design = build_single_smooth_design(args.design, args.x, args.k);
  const auto x_rows = static_cast<std::size_t>(args.x.rows());
  Vector y(args.y);  // the fit reads its own copy once the lock is released
  auto fitted = without_gil([&] {
    return fit_glm(kind, std::move(design), x_rows, std::move(y), std::move(args.weights),
                   interrupt_check());
  });
  return py::cast(value_or_raise(std::move(fitted)));
}

void bind_fit(py::module_& module) {
  module.def("fit", &fit_entry, fit_docstring, py::arg("family_name"), py::arg("x"), py::arg("y"),
             py::arg("weights") = py::none(), py::arg("k") = py::int_(10),
             py::arg("design") = py::str("cr"), py::arg("theta") = py::none(),
             py::arg("nu") = py::none(), py::arg("sigma2") = py::none(),
             py::arg("tweedie_p") = py::none(), py::arg("tweedie_phi") = py::none(),
             py::arg("r") = py::none(), py::arg("tau") = py::none(),
             py::arg("elf_sigma") = py::none(), py::arg("elf_lambda") = py::none());
}

}  // namespace krelm::bindings
