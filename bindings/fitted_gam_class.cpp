// FittedGam: read-only attributes (each read returns a fresh copy), vcov and
// term_col_ranges.
#include "fitted_gam_class.hpp"

#include "numpy_results.hpp"

namespace krelm::bindings {

namespace {

py::list term_col_ranges(const FittedGam& fit) {
  py::list ranges;
  if (const auto* additive = std::get_if<AdditivePredictor>(&fit.predictor.value)) {
    for (const auto& [first, last] : additive->term_col_ranges) {
      ranges.append(py::make_tuple(py::int_(first), py::int_(last)));
    }
  } else {
    ranges.append(py::make_tuple(py::int_(1), py::int_(fit.beta.size())));
  }
  return ranges;
}

constexpr const char* rho_doc =
    "Fitted log smoothing parameters, one per penalty: a 1-D float64 array of length "
    "n_terms, of length 1 for single-smooth fits (cr, re, cr_stable) and T for an additive "
    "fit of T univariate terms (a tensor term contributes two).";
constexpr const char* lambda_doc =
    "Fitted smoothing parameters lambda_j = exp(rho_j) per penalty: a 1-D float64 array of "
    "length n_terms.";
constexpr const char* edf_doc =
    "Per-penalty effective degrees of freedom: a 1-D float64 array of length n_terms. For "
    "models whose penalties act on separate columns it sums to edf_total - 1 (the intercept "
    "excluded); a tensor term has two penalties over the same columns, so with tensor terms "
    "the entries do not add up to that total.";
constexpr const char* shape_doc =
    "Family-specific fitted shape parameters, empty for families without any (Gaussian, "
    "Bernoulli, Poisson, ...). For Ocat the R - 2 log-gap thresholds theta_j that map to the "
    "R + 1 category boundaries; for NegBin [log_theta]; for TDist [log_sigma2, log(nu - 2)]; "
    "for Tweedie [log_phi, logit-scale power] as iterated.";

}  // namespace

FittedGamClass bind_fitted_gam(py::module_& module) {
  FittedGamClass cls(module, "FittedGam", "");
  cls.attr("__module__") = "krelm._krelm_native";
  cls.def_property_readonly("beta", [](const FittedGam& f) { return to_numpy(f.beta); })
      .def_property_readonly(
          "rho", [](const FittedGam& f) { return to_numpy(f.rho); }, rho_doc)
      .def_property_readonly(
          "lambda", [](const FittedGam& f) { return to_numpy(f.lambda); }, lambda_doc)
      .def_property_readonly(
          "edf_per_term", [](const FittedGam& f) { return to_numpy(f.edf_per_term); }, edf_doc)
      .def_property_readonly("scale", [](const FittedGam& f) { return f.scale; })
      .def_property_readonly("edf_total", [](const FittedGam& f) { return f.edf_total; })
      .def_property_readonly("n", [](const FittedGam& f) { return f.n; })
      .def_property_readonly("n_iters", [](const FittedGam& f) { return f.n_iters; })
      .def_property_readonly("converged", [](const FittedGam& f) { return f.converged; })
      .def_property_readonly("reml_value", [](const FittedGam& f) { return f.reml_value; })
      .def_property_readonly(
          "shape_params", [](const FittedGam& f) { return to_numpy(f.shape_params); }, shape_doc)
      .def(
          "vcov", [](const FittedGam& f) { return to_numpy(f.vcov); },
          "vcov($self)\n--\n\nPosterior covariance of beta, sigma^2 * A^-1; returns a (p, p) "
          "float64 array.")
      .def("term_col_ranges", &term_col_ranges,
           "term_col_ranges($self)\n--\n\nPer-term column ranges into the lpmatrix "
           "[1 | C_1 | C_2 | ...]: one (first, last_exclusive) tuple per term for an additive "
           "fit, or the single [(1, p)] for a single-smooth fit. The intercept always sits at "
           "column 0, outside every range.");
  return cls;
}

}  // namespace krelm::bindings
