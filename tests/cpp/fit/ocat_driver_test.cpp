// The ordered-categorical driver: the design name and the data checks in their order, and
// a fitted record whose (ρ̂, θ̂) minimises the shape score with scale 1 and vcov = A⁻¹.
#include "fit/ocat_driver.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "cholesky_inverse.hpp"
#include "score/shape_families.hpp"
#include "shape_data.hpp"

namespace krelm {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

Family ocat(std::size_t n_cats, std::vector<double> thresholds) {
  Family family;
  family.kind = FamilyKind::Ocat;
  family.n_cats = n_cats;
  family.thresholds = std::move(thresholds);
  return family;
}

struct CheckCase {
  const char* label;
  Family family;
  const char* design;
  Eigen::Index columns;
  Eigen::Index y_len;
  Eigen::Index bad_row;  // -1: y unchanged
  double bad_y;
  std::optional<Vector> weights;
  const char* message;
};

TEST(FitOcat, RefusesBadInputInOrder) {
  Vector negative_weight = Vector::Ones(20);
  negative_weight(7) = -1.0;
  const std::array cases = {
      CheckCase{"design name before everything", ocat(2, {}), "CR", 1, 21, 5, 9.0, Vector::Ones(3),
                "design must be 'cr', 're', or 'cr_stable'; got CR"},
      CheckCase{"x without columns", ocat(3, {0.0}), "cr", 0, 20, -1, 0.0, std::nullopt,
                "x must have at least one column; got shape (20, 0)"},
      CheckCase{"rows", ocat(2, {}), "cr", 1, 21, 5, 9.0, Vector::Ones(3),
                "x and y must have the same number of rows; got x.nrows()=20, y.len()=21"},
      CheckCase{"weight length", ocat(2, {}), "re", 1, 20, 5, 9.0, Vector::Ones(3),
                "prior_weights length must match x rows; got weights.len()=3, x.nrows()=20"},
      CheckCase{"two categories, even with a valid y", ocat(2, {}), "cr", 1, 20, -1, 0.0,
                std::nullopt,
                "Ocat requires n_cats ≥ 3 (≤ 2 levels collapses to Bernoulli — use "
                "bernoulli_logit instead); got n_cats=2"},
      CheckCase{"3.6 rounds to 4", ocat(3, {0.0}), "cr", 1, 20, 5, 3.6, std::nullopt,
                "Ocat requires y to be an integer in 1..=3; got y=3.6 at row 5"},
      CheckCase{"0.4 rounds to 0", ocat(3, {0.0}), "cr", 1, 20, 6, 0.4, std::nullopt,
                "Ocat requires y to be an integer in 1..=3; got y=0.4 at row 6"},
      CheckCase{"NaN counts as 0", ocat(3, {0.0}), "cr_stable", 1, 20, 6, nan, std::nullopt,
                "Ocat requires y to be an integer in 1..=3; got y=NaN at row 6"},
      CheckCase{"response before thresholds", ocat(3, {0.0, 0.0}), "cr", 1, 20, 6, 4.0,
                std::nullopt, "Ocat requires y to be an integer in 1..=3; got y=4 at row 6"},
      CheckCase{"thresholds", ocat(3, {0.0, 0.0}), "cr", 1, 20, 6, 2.4, std::nullopt,
                "Ocat init_theta length must equal n_cats - 2 = 1 (log-gap thresholds between "
                "adjacent categories above the first); got 2"},
      CheckCase{"negative weight", ocat(3, {0.0}), "cr", 1, 20, -1, 0.0, negative_weight,
                "weights must be finite and non-negative; got weight=-1 at row 7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const RowMatrix x = RowMatrix::Zero(20, c.columns).colwise() + Vector::LinSpaced(20, 0.0, 1.0);
    Vector y(c.y_len);
    for (Eigen::Index i = 0; i < c.y_len; ++i) {
      y(i) = static_cast<double>(1 + i % 3);
    }
    if (c.bad_row >= 0) {
      y(c.bad_row) = c.bad_y;
    }
    const auto fitted = fit_ocat(c.family, x, y, c.weights, c.design, 5);
    ASSERT_FALSE(fitted.has_value());
    EXPECT_TRUE(std::holds_alternative<InvalidParameter>(fitted.error().value));
    EXPECT_EQ(error_message(fitted.error()), c.message);
  }
}

TEST(FitOcat, ReturnsTheScoreMinimumAndAConsistentRecord) {
  const auto data = testing::simulate_ocat(600, {-1.0, 0.0, 1.5}, 2.0);
  const Family family = ocat(4, {0.0, 0.0});
  const auto fitted = fit_ocat(family, data.x, data.y, std::nullopt, "cr", 10);
  ASSERT_TRUE(fitted.has_value()) << fitted.error().display();
  EXPECT_TRUE(fitted->converged);
  EXPECT_EQ(fitted->scale, 1.0);
  EXPECT_EQ(fitted->link_kind, LinkKind::Identity);
  ASSERT_EQ(fitted->shape_params.size(), 2);
  ASSERT_EQ(fitted->rho.size(), 1);

  Design design = testing::cr_design_of(data.x, 10);
  const ScoreContext context = make_score_context(FamilyKind::Ocat, design, data.y, {});
  const OcatShape shape(4);
  Vector estimate(3);
  estimate << fitted->rho, fitted->shape_params;
  const auto score_at = [&](const Vector& joint) {
    return shape_score_value(context, shape, *shape.fit_at(context, joint), joint);
  };
  EXPECT_DOUBLE_EQ(score_at(estimate), fitted->reml_value);
  for (Eigen::Index i = 0; i < estimate.size(); ++i) {
    for (const double shift : {-0.05, 0.05}) {
      Vector moved = estimate;
      moved(i) += shift;
      EXPECT_GE(score_at(moved), fitted->reml_value) << "component " << i << " shift " << shift;
    }
  }
  const auto final_fit = shape.fit_at(context, estimate);
  EXPECT_EQ(fitted->beta, final_fit->beta);
  EXPECT_EQ(fitted->vcov, inverse_from_cholesky(final_fit->chol_factor));
  EXPECT_NEAR(fitted->edf_per_term(0), fitted->edf_total - 1.0, 1e-9);
}

}  // namespace
}  // namespace krelm
