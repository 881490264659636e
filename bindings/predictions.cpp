// The prediction methods of FittedGam: rebuild the model matrix at new covariates with the
// stored predictor, then combine it with beta, vcov and the link.
#include <string>

#include "conversion.hpp"
#include "design/predictor.hpp"
#include "errors.hpp"
#include "fit/data_checks.hpp"
#include "fit/prediction.hpp"
#include "fitted_gam_class.hpp"
#include "numpy_results.hpp"
#include "products.hpp"

namespace krelm::bindings {

namespace {

RowMatrix lpmatrix_at(const FittedGam& fit, const py::object& x_object, const char* name) {
  const MatrixView x = borrow_matrix(x_object, name);
  value_or_raise(check_has_columns(x));
  return value_or_raise(rebuild(fit.predictor, x));
}

py::tuple interval_tuple(const Interval& interval) {
  return py::make_tuple(to_numpy(interval.centre), to_numpy(interval.lower),
                        to_numpy(interval.upper));
}

py::array_t<double> predict(const FittedGam& fit, const py::object& x_new) {
  return to_numpy(design_times(lpmatrix_at(fit, x_new, "x_new"), fit.beta));
}

py::array_t<double> predict_response(const FittedGam& fit, const py::object& x_new) {
  const Vector eta = design_times(lpmatrix_at(fit, x_new, "x_new"), fit.beta);
  return to_numpy(apply_inverse_link(fit.link_kind, eta));
}

py::tuple predict_ci(const FittedGam& fit, const py::object& x_new, const py::object& level_obj,
                     const py::object& scale_obj) {
  const MatrixView x = borrow_matrix(x_new, "x_new");
  const double level = to_float(level_obj, "level");
  const std::string scale = to_text(scale_obj, "scale");
  if (scale != "link" && scale != "response") {
    raise_value_error("scale must be 'link' or 'response', got " + scale);
  }
  const double z = value_or_raise(interval_quantile(level));
  value_or_raise(check_has_columns(x));
  const RowMatrix lpmatrix = value_or_raise(rebuild(fit.predictor, x));
  Interval interval = linear_predictor_interval(lpmatrix, fit.beta, fit.vcov, z);
  if (scale == "response") {
    interval = Interval{apply_inverse_link(fit.link_kind, interval.centre),
                        apply_inverse_link(fit.link_kind, interval.lower),
                        apply_inverse_link(fit.link_kind, interval.upper)};
  }
  return interval_tuple(interval);
}

py::tuple predict_diff(const FittedGam& fit, const py::object& x_a, const py::object& x_b,
                       const py::object& level_obj) {
  const MatrixView view_a = borrow_matrix(x_a, "x_a");
  const MatrixView view_b = borrow_matrix(x_b, "x_b");
  const double level = to_float(level_obj, "level");
  const double z = value_or_raise(interval_quantile(level));
  value_or_raise(check_has_columns(view_a));
  const RowMatrix lpmatrix_a = value_or_raise(rebuild(fit.predictor, view_a));
  value_or_raise(check_has_columns(view_b));
  const RowMatrix lpmatrix_b = value_or_raise(rebuild(fit.predictor, view_b));
  return interval_tuple(
      value_or_raise(contrast_interval(lpmatrix_a, lpmatrix_b, fit.beta, fit.vcov, z)));
}

}  // namespace

void bind_predictions(FittedGamClass& cls) {
  cls.def("predict", &predict, py::arg("x_new"),
          "predict($self, x_new)\n--\n\nPredicts eta (the linear predictor) on new x. x_new "
          "is a 2-D float64 array of shape (n_new, n_input_dims); returns a 1-D float64 array "
          "of length n_new.")
      .def("predict_response", &predict_response, py::arg("x_new"),
           "predict_response($self, x_new)\n--\n\nPredicts mu (response scale) by "
           "inverse-linking eta element by element; returns a 1-D float64 array.")
      .def("predict_ci", &predict_ci, py::arg("x_new"), py::arg("level") = py::float_(0.95),
           py::arg("scale") = py::str("response"),
           "predict_ci($self, x_new, level=0.95, scale=\"response\")\n--\n\nWald-style "
           "confidence interval for predictions at x_new. Returns (mean, lo, hi) as three 1-D "
           "float64 arrays on the requested scale; scale accepts \"link\" (eta) or "
           "\"response\" (mu).")
      .def("predict_diff", &predict_diff, py::arg("x_a"), py::arg("x_b"),
           py::arg("level") = py::float_(0.95),
           "predict_diff($self, x_a, x_b, level=0.95)\n--\n\nWald confidence interval for the "
           "contrast predict(x_a) - predict(x_b) on the eta scale. Returns (diff, lo, hi) as "
           "three 1-D float64 arrays; broadcasts when one of the arrays has a single row.")
      .def(
          "evaluate_lpmatrix",
          [](const FittedGam& fit, const py::object& x_new) {
            return to_numpy(lpmatrix_at(fit, x_new, "x_new"));
          },
          py::arg("x_new"),
          "evaluate_lpmatrix($self, x_new)\n--\n\nRebuilds the design matrix (lpmatrix) at "
          "x_new, shape (n_new, p): column 0 is the intercept and the following columns are "
          "the per-term blocks. Use it with the coefficients for partial or subset "
          "predictions, or with vcov for posterior sampling.");
}

}  // namespace krelm::bindings
