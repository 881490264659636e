// fit_additive: parse the terms, accept only the exponential families, build the additive
// design and fit it with the same driver as `fit`.
#include "fit_additive_entry.hpp"

#include <algorithm>
#include <string>

#include "conversion.hpp"
#include "design/additive_design.hpp"
#include "errors.hpp"
#include "family_table.hpp"
#include "fit/data_checks.hpp"
#include "fit/glm_driver.hpp"
#include "gil.hpp"
#include "term_parser.hpp"

namespace krelm::bindings {

namespace {

constexpr const char* fit_additive_docstring =
    R"(fit_additive(family_name, x, y, terms, weights=None)
--

Fit a multi-smooth additive krelm GAM, y ~ s(x_{c_0}) + s(x_{c_1}) + ...

`terms` is a Python list of (col, basis_name, k) tuples, one tuple per smoothing term.
basis_name is one of "cr", "cr_stable" or "re"; the k element is given for "cr" and
"cr_stable" and ignored for "re". A tensor-product term is written
((col_a, col_b), "te", (k_a, k_b)). Strings exist only at this boundary: the typed
TermSpec goes into the core.

`family_name` accepts the same names as fit(...) minus the families that require a
single smooth (the shape-aware ones: tdist, scat, negbin, tweedie, ocat, elf,
quantile), which fail with a message directing the user back to krelm.fit(...).)";

std::vector<std::size_t> columns_read(const std::vector<TermSpec>& terms) {
  std::vector<std::size_t> columns;
  for (const auto& term : terms) {
    if (const auto* tensor = std::get_if<TensorTermSpec>(&term)) {
      columns.push_back(static_cast<std::size_t>(tensor->col_a));
      columns.push_back(static_cast<std::size_t>(tensor->col_b));
    } else {
      std::visit(
          [&columns](const auto& spec) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(spec)>, TensorTermSpec>) {
              columns.push_back(static_cast<std::size_t>(spec.col));
            }
          },
          term);
    }
  }
  return columns;
}

py::object fit_additive_entry(const py::object& family_name, const py::object& x,
                              const py::object& y, const py::object& terms,
                              const py::object& weights) {
  const std::string family = to_text(family_name, "family_name");
  const MatrixView x_view = borrow_matrix(x, "x");
  const VectorView y_view = borrow_vector(y, "y");
  if (!PyList_Check(terms.ptr())) {
    raise_argument_type_error("terms",
                              std::string("expected list; got ") + Py_TYPE(terms.ptr())->tp_name);
  }
  std::optional<Vector> weight_copy = copy_optional_vector(weights, "weights");
  const std::vector<TermSpec> specs = parse_terms(py::reinterpret_borrow<py::list>(terms));
  if (specs.empty()) {
    raise_value_error("fit_additive: terms list must be non-empty");
  }
  const auto row = find_family(family);
  if (!is_additive_family(family)) {
    raise_value_error("fit_additive: family " + family +
                      " is shape-managed and restricted to single-smooth in 94b; use "
                      "krelm.fit(family=" +
                      family +
                      ", …) or wait for multi-smooth shape-aware support. Supported additive "
                      "families: gaussian, bernoulli/binomial, poisson, quasipoisson, "
                      "quasibinomial, gamma, inverse_gaussian");
  }
  const std::vector<std::size_t> columns = columns_read(specs);
  const auto width = static_cast<std::size_t>(x_view.cols());
  // A column outside x is the design's error to report, before any term is looked at.
  if (std::all_of(columns.begin(), columns.end(), [width](std::size_t c) { return c < width; })) {
    value_or_raise(check_covariates_finite(x_view, columns));
  }
  Design design = value_or_raise(build_additive_design(x_view, specs));
  const auto x_rows = static_cast<std::size_t>(x_view.rows());
  Vector y_copy(y_view);  // the fit reads its own copy once the lock is released
  auto fitted = without_gil([&] {
    return fit_glm(row->kind, std::move(design), x_rows, std::move(y_copy), std::move(weight_copy),
                   interrupt_check());
  });
  return py::cast(value_or_raise(std::move(fitted)));
}

}  // namespace

void bind_fit_additive(py::module_& module) {
  module.def("fit_additive", &fit_additive_entry, fit_additive_docstring, py::arg("family_name"),
             py::arg("x"), py::arg("y"), py::arg("terms"), py::arg("weights") = py::none());
}

}  // namespace krelm::bindings
