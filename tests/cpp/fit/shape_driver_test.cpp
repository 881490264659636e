// The shape-aware driver: its checks in their order, the starting vector, and a fitted
// record whose ϑ̂ minimises the shape score and whose scale and covariance follow the
// family's table.
#include "fit/shape_driver.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "cholesky_inverse.hpp"
#include "fit/post_fit.hpp"
#include "score/shape_families.hpp"
#include "shape_data.hpp"

namespace krelm {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

Family negbin(double theta) {
  Family family;
  family.kind = FamilyKind::NegBin;
  family.theta = theta;
  return family;
}
Family tdist(double nu, double sigma2) {
  Family family;
  family.kind = FamilyKind::TDist;
  family.nu = nu;
  family.sigma2 = sigma2;
  return family;
}
Family tweedie(double power, double phi) {
  Family family;
  family.kind = FamilyKind::Tweedie;
  family.power = power;
  family.phi = phi;
  return family;
}

struct CheckCase {
  const char* label;
  Family family;
  std::size_t x_rows;
  Eigen::Index bad_row;  // -1: y unchanged
  double bad_y;
  std::optional<Vector> weights;
  std::size_t penalty_count;
  const char* message;  // empty: accepted
};

TEST(CheckShapeAwareData, ReportsTheFirstFailingCheckInOrder) {
  const Vector short_weights = Vector::Ones(4);
  Vector negative_weight = Vector::Ones(20);
  negative_weight(3) = -0.5;
  const std::array cases = {
      CheckCase{"valid", negbin(2.0), 20, -1, 0.0, std::nullopt, 1, ""},
      CheckCase{"rows before weights", negbin(2.0), 21, -1, 0.0, short_weights, 1,
                "x and y must have the same number of rows; got x.nrows()=21, y.len()=20"},
      CheckCase{"weights before theta", negbin(nan), 20, 4, -1.0, short_weights, 1,
                "prior_weights length must match x rows; got weights.len()=4, x.nrows()=20"},
      CheckCase{"NaN theta", negbin(nan), 20, -1, 0.0, std::nullopt, 1,
                "NegBin overdispersion init_theta must be a positive finite scalar (small θ → "
                "high variance, large θ → Poisson limit); got init_theta=NaN"},
      CheckCase{"infinite theta before the response", negbin(inf), 20, 4, -1.0, std::nullopt, 1,
                "NegBin overdispersion init_theta must be a positive finite scalar (small θ → "
                "high variance, large θ → Poisson limit); got init_theta=inf"},
      CheckCase{"negbin response", negbin(2.0), 20, 4, -1.0, std::nullopt, 1,
                "NegBin requires y ≥ 0; got y=-1 at row 4"},
      CheckCase{"tweedie phi", tweedie(1.5, 0.0), 20, 4, -1.0, std::nullopt, 1,
                "Tweedie dispersion init_phi must be a positive finite scalar; got init_phi=0"},
      CheckCase{"tweedie response", tweedie(1.5, 1.0), 20, 4, -1.0, std::nullopt, 1,
                "Tweedie requires y ≥ 0; got y=-1 at row 4"},
      CheckCase{"nu bound is strict", tdist(2.0, 1.0), 20, -1, 0.0, std::nullopt, 1,
                "scat/TDist degrees-of-freedom init_nu must be > 2 (finite variance); got "
                "init_nu=2"},
      CheckCase{"nu before sigma2", tdist(inf, 0.0), 20, -1, 0.0, std::nullopt, 1,
                "scat/TDist degrees-of-freedom init_nu must be > 2 (finite variance); got "
                "init_nu=inf"},
      CheckCase{"sigma2", tdist(2.5, -1.0), 20, -1, 0.0, std::nullopt, 1,
                "scat/TDist scale init_sigma2 must be a positive finite scalar; got "
                "init_sigma2=-1"},
      CheckCase{"tdist takes any real response", tdist(2.5, 1.0), 20, 4, -1.0, std::nullopt, 1, ""},
      CheckCase{"single smooth guard before finite y", tdist(5.0, 1.0), 20, 2, nan, std::nullopt, 2,
                "shape-aware families (TDist/scat, NegBin, Tweedie, Ocat) are restricted to "
                "single-smooth fits in 94b; got 2 terms"},
      CheckCase{"NaN passes the negbin domain, not the finite check", negbin(2.0), 20, 2, nan,
                std::nullopt, 1, "y must be finite; got y=NaN at row 2"},
      CheckCase{"infinite t response", tdist(5.0, 1.0), 20, 2, -inf, std::nullopt, 1,
                "y must be finite; got y=-inf at row 2"},
      CheckCase{"negative weight", tweedie(1.5, 1.0), 20, -1, 0.0, negative_weight, 1,
                "weights must be finite and non-negative; got weight=-0.5 at row 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Vector y = Vector::LinSpaced(20, 0.0, 5.0);
    if (c.bad_row >= 0) {
      y(c.bad_row) = c.bad_y;
    }
    const auto checked = check_shape_aware_data(c.family, c.x_rows, y, c.weights, c.penalty_count);
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(checked.has_value()) << error_message(checked.error());
    } else {
      ASSERT_FALSE(checked.has_value());
      EXPECT_TRUE(std::holds_alternative<InvalidParameter>(checked.error().value));
      EXPECT_EQ(error_message(checked.error()), c.message);
    }
  }
}

struct StartCase {
  const char* label;
  Family family;
  Vector expected;
};

TEST(ShapeStartVector, StartsRhoAtZeroAndTransformsTheShapes) {
  const std::array cases = {
      StartCase{"negbin default", negbin(2.0), Vector{{0.0, std::log(2.0)}}},
      StartCase{"tweedie default", tweedie(1.5, 1.0), Vector{{0.0, 0.0, 0.0}}},
      StartCase{"tweedie", tweedie(1.4, 2.0),
                Vector{{0.0, std::log(2.0), std::log((1.4 - 1.0) / (2.0 - 1.4))}}},
      StartCase{"tdist nu = 2.5", tdist(2.5, 1.0), Vector{{0.0, 0.0, std::log(0.5)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(shape_start_vector(c.family), c.expected);
  }
}

struct DriverCase {
  const char* label;
  Family family;
  LinkKind link;
};

class FitShapeAware : public ::testing::TestWithParam<DriverCase> {};

// ϑ̂ minimises the score V(ϑ) = shape_score_value(refit at ϑ); the record reports V(ϑ̂),
// the scale of the family's table and vcov = scale·A⁻¹ of the final fit.
TEST_P(FitShapeAware, ReturnsTheScoreMinimumAndAConsistentRecord) {
  const DriverCase& c = GetParam();
  const auto data = testing::simulate_shape(c.family.kind, 500);
  const Vector start = shape_start_vector(c.family);
  const auto fitted = fit_shape_aware(c.family.kind, testing::cr_design_of(data.x, 10), 500, data.y,
                                      std::nullopt, start);
  ASSERT_TRUE(fitted.has_value()) << fitted.error().display();
  EXPECT_TRUE(fitted->converged);
  EXPECT_EQ(fitted->link_kind, c.link);
  EXPECT_EQ(fitted->n, 500U);
  const auto shapes = static_cast<Eigen::Index>(shape_component_count(c.family.kind));
  ASSERT_EQ(fitted->shape_params.size(), shapes);
  EXPECT_EQ(fitted->lambda(0), std::exp(fitted->rho(0)));

  Design design = testing::cr_design_of(data.x, 10);
  const ScoreContext context = make_score_context(c.family.kind, design, data.y, {});
  const auto family = make_shape_family(c.family.kind);
  Vector estimate(1 + shapes);
  estimate << fitted->rho, fitted->shape_params;
  const auto score_at = [&](const Vector& joint) {
    return shape_score_value(context, *family, *family->fit_at(context, joint), joint);
  };
  EXPECT_DOUBLE_EQ(score_at(estimate), fitted->reml_value);
  for (Eigen::Index i = 0; i < estimate.size(); ++i) {
    for (const double shift : {-0.05, 0.05}) {
      Vector moved = estimate;
      moved(i) += shift;
      EXPECT_GE(score_at(moved), fitted->reml_value) << "component " << i << " shift " << shift;
    }
  }

  const double expected_scale = c.family.kind == FamilyKind::Tweedie
                                    ? std::max(std::exp(fitted->shape_params(0)), 1e-6)
                                    : std::exp(fitted->shape_params(0));
  EXPECT_EQ(fitted->scale, expected_scale);
  const auto final_fit = family->fit_at(context, estimate);
  const RowMatrix inverse = inverse_from_cholesky(final_fit->chol_factor);
  EXPECT_TRUE(fitted->vcov.isApprox(expected_scale * inverse, 1e-12));
  EXPECT_EQ(fitted->beta, final_fit->beta);
  EXPECT_NEAR(fitted->edf_per_term(0), fitted->edf_total - 1.0, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Families, FitShapeAware,
                         ::testing::Values(DriverCase{"negbin", negbin(2.0), LinkKind::Log},
                                           DriverCase{"tdist", tdist(5.0, 1.0), LinkKind::Identity},
                                           DriverCase{"tweedie", tweedie(1.5, 1.0), LinkKind::Log}),
                         [](const ::testing::TestParamInfo<DriverCase>& case_info) {
                           return case_info.param.label;
                         });

TEST(FitShapeAwareGuards, RefusesADesignWithTwoPenalties) {
  const auto data = testing::simulate_shape(FamilyKind::NegBin, 50);
  Design design = testing::cr_design_of(data.x, 5);
  design.penalties.push_back(design.penalties.front());
  const auto fitted = fit_shape_aware(FamilyKind::NegBin, std::move(design), 50, data.y,
                                      std::nullopt, Vector{{0.0, 0.0}});
  ASSERT_FALSE(fitted.has_value());
  EXPECT_EQ(error_message(fitted.error()),
            "shape-aware families (TDist/scat, NegBin, Tweedie, Ocat) are restricted to "
            "single-smooth fits in 94b; got 2 terms");
}

// A record with a non-finite coefficient or score never claims convergence.
TEST(JointFitRecord, NeverReportsConvergenceForNonFiniteNumbers) {
  const auto data = testing::simulate_shape(FamilyKind::NegBin, 100);
  Design design = testing::cr_design_of(data.x, 6);
  const ScoreContext context = make_score_context(FamilyKind::NegBin, design, data.y, {});
  const NegBinShape family;
  const Vector joint{{0.0, std::log(3.0)}};
  const auto make = [&](double beta0, double value) {
    JointFit joint_fit{OuterResult{joint, value, 0.0, 2, true}, *family.fit_at(context, joint)};
    joint_fit.fit.beta(0) = beta0;
    return joint_fit_record(context, std::move(joint_fit), 3.0, LinkKind::Log, 100, Predictor{});
  };
  EXPECT_TRUE(make(0.5, 10.0).converged);
  EXPECT_FALSE(make(nan, 10.0).converged);
  EXPECT_FALSE(make(0.5, inf).converged);
}

}  // namespace
}  // namespace krelm
