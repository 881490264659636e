// The shape score: the Tweedie analytic shape gradient against central differences, the
// number of inner fits one score-with-Hessian costs per family, and the decoding edges.
#include "score/shape_aware.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "../fit/shape_data.hpp"
#include "family/glm_family.hpp"
#include "family/tweedie.hpp"
#include "score/shape_families.hpp"
#include "work_counters.hpp"

namespace krelm {
namespace {

ScoreContext context_for(FamilyKind family, const testing::Simulated& data, std::size_t k) {
  Design design = testing::cr_design_of(data.x, k);
  return make_score_context(family, design, data.y, {});
}

double log_det_of(const InnerFit& fit) {
  return 2.0 * fit.chol_factor.diagonal().array().log().sum();
}

// The Tweedie score at ϑ′ with the fit at ϑ held fixed (log det A, μ, b), written out
// independently of the score code: V = ½·log det A + (D(p′; y, μ) + λ′b)/(2φ′)
// − (M_p/2)·ln(2πφ′) − ½·(r·ρ′ + ℓ) − Σ_i ls(y_i; p′, φ′).
double frozen_tweedie_score(const ScoreContext& context, const InnerFit& fit, const Vector& joint) {
  const TweedieParams params = tweedie_params_from(joint(1), joint(2));
  const double lambda = std::exp(joint(0));
  const double quadratic = fit.beta.dot(context.penalties[0] * fit.beta);
  const double deviance_at = deviance(
      PirlsFamily{.kind = FamilyKind::Tweedie, .power = params.power}, context.y, fit.mu, {});
  double saturated = 0.0;
  for (const double y : context.y) {
    saturated += tweedie_log_density_saturated(params.power, params.phi, y);
  }
  const auto null_dim = static_cast<double>(context.null_space_dim);
  return 0.5 * log_det_of(fit) + (deviance_at + lambda * quadratic) / (2.0 * params.phi) -
         null_dim / 2.0 * std::log(2.0 * 3.141592653589793 * params.phi) -
         0.5 * (static_cast<double>(context.ranks[0]) * joint(0) + context.log_pdets[0]) -
         saturated;
}

class TweedieShapeScoreGradient : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto data = testing::simulate_shape(FamilyKind::Tweedie, 300);
    Design design = testing::cr_design_of(data.x, 8);
    context_ = make_score_context(FamilyKind::Tweedie, design, data.y, {});
    // Tight inner fits, so that differences of refitted scores are not PIRLS noise.
    context_.settings.tol = 1e-14;
    auto fit = family_.fit_at(context_, joint_);
    ASSERT_TRUE(fit.has_value());
    fit_ = *std::move(fit);
  }

  [[nodiscard]] Vector analytic() const {
    const double penalised_deviance =
        fit_.deviance + std::exp(joint_(0)) * fit_.beta.dot(context_.penalties[0] * fit_.beta);
    return *family_.analytic_shape_score_gradient(context_, fit_.mu, joint_, penalised_deviance);
  }

  [[nodiscard]] double refitted_score(const Vector& joint) const {
    return shape_score_value(context_, family_, *family_.fit_at(context_, joint), joint);
  }

  ScoreContext context_;
  TweedieShape family_;
  Vector joint_{{0.5, std::log(1.8), 0.3}};  // λ = e^0.5, φ = 1.8, p ≈ 1.574
  InnerFit fit_;
};

// Differences of the frozen score reproduce the analytic formula in both components; the
// step 1e-5 leaves a rounding error of about ε·|V|/h ≈ 1e-8 relative to the score.
TEST_F(TweedieShapeScoreGradient, MatchesDifferencesOfTheScoreAtFrozenCoefficients) {
  const Vector gradient = analytic();
  constexpr double step = 1e-5;
  for (Eigen::Index k = 1; k <= 2; ++k) {
    SCOPED_TRACE(k);
    Vector forward = joint_;
    forward(k) += step;
    Vector backward = joint_;
    backward(k) -= step;
    const double difference = (frozen_tweedie_score(context_, fit_, forward) -
                               frozen_tweedie_score(context_, fit_, backward)) /
                              (2.0 * step);
    EXPECT_NEAR(gradient(k - 1), difference, 1e-6 * (1.0 + std::abs(difference)));
  }
  // The frozen score at ϑ itself is the score: the two codes agree on the value.
  EXPECT_NEAR(frozen_tweedie_score(context_, fit_, joint_),
              shape_score_value(context_, family_, fit_, joint_), 1e-9);
}

// PIRLS does not read φ, so the refitted score moves with log φ exactly as the frozen one.
TEST_F(TweedieShapeScoreGradient, LogPhiComponentMatchesDifferencesOfTheRefittedScore) {
  constexpr double step = 1e-5;
  Vector forward = joint_;
  forward(1) += step;
  Vector backward = joint_;
  backward(1) -= step;
  const double difference = (refitted_score(forward) - refitted_score(backward)) / (2.0 * step);
  EXPECT_NEAR(analytic()(0), difference, 1e-6 * (1.0 + std::abs(difference)));
}

// With refits the power also moves the working weights, so the refitted score adds
// ½·∂log det A/∂θ_p to the analytic component (β̂ minimises the penalised deviance, so
// its own movement drops out). The step 1e-4 keeps the truncation error near 1e-8.
TEST_F(TweedieShapeScoreGradient, PowerComponentPlusLogDetTermMatchesRefittedDifferences) {
  constexpr double step = 1e-4;
  Vector forward = joint_;
  forward(2) += step;
  Vector backward = joint_;
  backward(2) -= step;
  const auto fit_forward = family_.fit_at(context_, forward);
  const auto fit_backward = family_.fit_at(context_, backward);
  ASSERT_TRUE(fit_forward.has_value() && fit_backward.has_value());
  const double score_difference = (shape_score_value(context_, family_, *fit_forward, forward) -
                                   shape_score_value(context_, family_, *fit_backward, backward)) /
                                  (2.0 * step);
  const double log_det_difference =
      (log_det_of(*fit_forward) - log_det_of(*fit_backward)) / (2.0 * step);
  EXPECT_NEAR(analytic()(1) + 0.5 * log_det_difference, score_difference,
              1e-5 * (1.0 + std::abs(score_difference)));
}

TEST_F(TweedieShapeScoreGradient, GradientUsesTheAnalyticShapeComponents) {
  const auto evaluated = shape_score_gradient(context_, family_, joint_);
  ASSERT_TRUE(evaluated.has_value());
  EXPECT_EQ(evaluated->gradient.tail(2), analytic());
  EXPECT_EQ(evaluated->value, shape_score_value(context_, family_, fit_, joint_));
}

struct CostCase {
  const char* label;
  FamilyKind family;
  std::size_t n_cats;  // Ocat only
  std::uint64_t fits;
};

// One score with Hessian costs (1 + 2s)·(1 + 2q) inner fits for q components of which s
// are differenced shape components; Tweedie replaces the shape columns by frozen-β
// evaluations and pays 1 + 2 fits.
TEST(ShapeScoreWithHessian, CostsTheDocumentedNumberOfInnerFits) {
  const std::array cases = {
      CostCase{"negbin: 3 + 12", FamilyKind::NegBin, 0, 15},
      CostCase{"tdist: 5 + 30", FamilyKind::TDist, 0, 35},
      CostCase{"tweedie: analytic shape columns", FamilyKind::Tweedie, 0, 3},
      CostCase{"ocat R = 3: 3 × 5", FamilyKind::Ocat, 3, 15},
      CostCase{"ocat R = 4: 5 × 7", FamilyKind::Ocat, 4, 35},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const bool ocat = c.family == FamilyKind::Ocat;
    const auto data = ocat ? testing::simulate_ocat(200, {-1.0, 0.0, 1.0}, 1.0)
                           : testing::simulate_shape(c.family, 200);
    Vector y = data.y;
    if (ocat) {
      y = y.cwiseMin(static_cast<double>(c.n_cats));
    }
    Design design = testing::cr_design_of(data.x, 8);
    const ScoreContext context = make_score_context(c.family, design, y, {});
    const std::unique_ptr<ShapeFamily> family =
        ocat ? std::make_unique<OcatShape>(c.n_cats) : make_shape_family(c.family);
    const Eigen::Index q = ocat ? static_cast<Eigen::Index>(c.n_cats) - 1
                                : 1 + static_cast<Eigen::Index>(shape_component_count(c.family));
    const Vector joint = Vector::Constant(q, 0.1);
    reset_work_counts();
    const auto evaluated = shape_score_with_hessian(context, *family, joint);
    const std::uint64_t fits = read_work_counts().inner_fits;
    ASSERT_TRUE(evaluated.has_value());
    EXPECT_EQ(fits, c.fits);
    EXPECT_EQ(evaluated->hessian, evaluated->hessian.transpose());
    EXPECT_EQ(evaluated->gradient.size(), q);
  }
}

struct DecodingCase {
  const char* label;
  double log_phi;
  double power_logit;
  double phi;
  double power;
};

TEST(TweedieShapeFamily, DecodesWithTheFloorAndTheClamp) {
  const std::array cases = {
      DecodingCase{"centre", 0.0, 0.0, 1.0, 1.5},
      DecodingCase{"power above 1.95 is clamped", 0.0, 50.0, 1.0, 1.95},
      DecodingCase{"power below 1.05 is clamped", 0.0, -50.0, 1.0, 1.05},
      DecodingCase{"phi below 1e-6 is floored", std::log(1e-6) - 1.0, 0.0, 1e-6, 1.5},
  };
  const TweedieShape family;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Vector joint{{0.0, c.log_phi, c.power_logit}};
    EXPECT_EQ(family.score_scale(joint), c.phi);
    EXPECT_EQ(shape_pirls_family(FamilyKind::Tweedie, joint).power, c.power);
  }
}

TEST(TDistShapeFamily, KeepsNuAboveTwoForEveryComponent) {
  for (const double log_nu_minus_two : {-30.0, 0.0, 3.0}) {
    const PirlsFamily family =
        shape_pirls_family(FamilyKind::TDist, Vector{{0.0, std::log(0.25), log_nu_minus_two}});
    EXPECT_GT(family.nu, 2.0);
    EXPECT_DOUBLE_EQ(family.sigma2, 0.25);
  }
}

// ls is the t log density at zero residual summed over the rows, normalising constant
// included (std::lgamma as the reference for the log gamma function).
TEST(TDistShapeFamily, SaturatedTermIsTheTLogDensityAtZero) {
  const auto data = testing::simulate_shape(FamilyKind::TDist, 30);
  const ScoreContext context = context_for(FamilyKind::TDist, data, 5);
  const TDistShape family;
  const double nu = 4.5;
  const double sigma2 = 0.3;
  const Vector joint{{0.0, std::log(sigma2), std::log(nu - 2.0)}};
  const double density = std::lgamma((nu + 1.0) / 2.0) - std::lgamma(nu / 2.0) -
                         0.5 * std::log(3.141592653589793 * nu * sigma2);
  EXPECT_NEAR(family.saturated_loglik(context, joint), 30.0 * density, 1e-12);
}

TEST(EvalGradFrozenBetaDeathTest, IsAFaultForAFamilyWithoutAnalyticGradient) {
  const auto data = testing::simulate_shape(FamilyKind::NegBin, 50);
  const ScoreContext context = context_for(FamilyKind::NegBin, data, 5);
  const NegBinShape family;
  const FrozenFit frozen{data.y, 1.0, 1.0, 1.0};
  EXPECT_DEATH({ (void)eval_grad_frozen_beta(context, family, Vector{{0.0, 0.0}}, frozen); }, "");
}

}  // namespace
}  // namespace krelm
