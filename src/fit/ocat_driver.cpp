// Ordered-categorical driver: design, checks, joint search over (ρ, θ) and the record.
#include "ocat_driver.hpp"

#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "../design/cr_design.hpp"
#include "../design/cr_stable_design.hpp"
#include "../design/re_design.hpp"
#include "../format.hpp"
#include "../score/score_context.hpp"
#include "../score/shape_families.hpp"
#include "data_checks.hpp"
#include "shape_driver.hpp"

namespace krelm {

namespace {

/// The named single-smooth design of column 0. An x without columns or with a non-finite
/// value in column 0 is refused before a builder reads it.
Expected<Design> build_design(const std::string& name, const MatrixRef& x, std::size_t k) {
  if (name != "cr" && name != "re" && name != "cr_stable") {
    return std::unexpected(
        invalid_parameter("design must be 'cr', 're', or 'cr_stable'; got " + name));
  }
  if (auto columns = check_has_columns(x); !columns) {
    return std::unexpected(std::move(columns.error()));
  }
  constexpr std::array<std::size_t, 1> first_column = {0};
  if (auto finite = check_covariates_finite(x, first_column); !finite) {
    return std::unexpected(std::move(finite.error()));
  }
  if (name == "cr_stable") {
    return build_cr_stable_design(x, k);
  }
  if (name == "re") {
    return build_re_design(x);
  }
  return build_cr_design(x, k);
}

/// The first row whose nearest integer (halves away from zero, NaN as 0) is outside 1..R.
Expected<void> check_categories(const VectorRef& y, std::size_t n_cats) {
  const auto largest = static_cast<double>(n_cats);
  for (Eigen::Index row = 0; row < y.size(); ++row) {
    const double nearest = std::round(y(row));
    if (!(nearest >= 1.0 && nearest <= largest)) {  // NaN fails
      return std::unexpected(
          invalid_parameter("Ocat requires y to be an integer in 1..=" + std::to_string(n_cats) +
                            "; got y=" + format_float(y(row)) + " at row " + std::to_string(row)));
    }
  }
  return {};
}

}  // namespace

Expected<void> check_ocat_data(const Family& family, std::size_t x_rows, const VectorRef& y,
                               const std::optional<Vector>& prior_weights,
                               std::size_t penalty_count) {
  if (auto counted =
          check_rows_and_weight_length(x_rows, static_cast<std::size_t>(y.size()), prior_weights);
      !counted) {
    return counted;
  }
  const std::size_t n_cats = family.n_cats;
  if (n_cats < 3) {
    return std::unexpected(invalid_parameter(
        "Ocat requires n_cats ≥ 3 (≤ 2 levels collapses to Bernoulli — use bernoulli_logit "
        "instead); got n_cats=" +
        std::to_string(n_cats)));
  }
  if (auto categories = check_categories(y, n_cats); !categories) {
    return categories;
  }
  if (family.thresholds.size() != n_cats - 2) {
    return std::unexpected(invalid_parameter(
        "Ocat init_theta length must equal n_cats - 2 = " + std::to_string(n_cats - 2) +
        " (log-gap thresholds between adjacent categories above the first); got " +
        std::to_string(family.thresholds.size())));
  }
  if (penalty_count != 1) {
    return std::unexpected(
        invalid_parameter("ocat is restricted to single-smooth fits in 94b; got " +
                          std::to_string(penalty_count) + " terms"));
  }
  return check_weights_valid(prior_weights);
}

Expected<FittedGam> fit_ocat(const Family& family, const MatrixRef& x, Vector y,
                             std::optional<Vector> prior_weights, const std::string& design_name,
                             std::size_t k, const IterationHook& between_iterations) {
  auto design = build_design(design_name, x, k);
  if (!design) {
    return std::unexpected(std::move(design.error()));
  }
  const auto x_rows = static_cast<std::size_t>(x.rows());
  if (auto checked = check_ocat_data(family, x_rows, y, prior_weights, design->penalties.size());
      !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  // ϑ₀ = (0, θ₁, …, θ_{R−2}).
  Vector start(static_cast<Eigen::Index>(family.n_cats - 1));
  start(0) = 0.0;
  for (std::size_t j = 0; j < family.thresholds.size(); ++j) {
    start(static_cast<Eigen::Index>(j) + 1) = family.thresholds[j];
  }
  const OcatShape shape(family.n_cats);
  const ScoreContext context =
      make_score_context(FamilyKind::Ocat, *design, std::move(y), std::move(prior_weights));
  auto joint = run_joint_search(context, shape, start, between_iterations);
  if (!joint) {
    return std::unexpected(std::move(joint.error()));
  }
  return joint_fit_record(context, *std::move(joint), 1.0, LinkKind::Identity, x_rows,
                          std::move(design->predictor));
}

}  // namespace krelm
