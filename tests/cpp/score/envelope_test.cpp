// The Laplace score: agreement with a brute-force REML, exact gradients where the envelope
// argument is exact (Gaussian; inverse Gaussian with its Newton block), the degenerate guard.
#include "score/envelope.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "../support/test_models.hpp"
#include "products.hpp"

namespace krelm {
namespace {

ScoreContext context_for(FamilyKind family, const testing::Simulated& data, std::size_t k,
                         std::optional<Vector> weights = std::nullopt) {
  Design design = testing::cr_design_of(data.x, k);
  return make_score_context(family, design, data.y, std::move(weights));
}

double value_at(const ScoreContext& context, double rho) {
  return laml_score(context, Vector::Constant(1, rho))->value;
}

// Restricted likelihood from dense matrices, up to a constant that does not depend on ρ:
// −ℓ_R = ½ log det(XᵀX + S_λ) − ½ log|S_λ|₊ + (n − M_p)/2·log σ̂² with σ̂² = Dp/(n − M_p).
double brute_force_reml(const Design& design, const Vector& y, double rho) {
  const RowMatrix& x = design.model_matrix;
  const double lambda = std::exp(rho);
  const RowMatrix penalty = lambda * design.penalties[0].matrix;
  const RowMatrix a = x.transpose() * x + penalty;
  const Vector beta = a.llt().solve(x.transpose() * y);
  const double dp = (y - x * beta).squaredNorm() + beta.dot(penalty * beta);
  Eigen::SelfAdjointEigenSolver<RowMatrix> penalty_eigen(penalty);
  double log_pdet = 0.0;
  const auto rank = static_cast<Eigen::Index>(design.penalties[0].rank);
  for (Eigen::Index i = penalty.rows() - rank; i < penalty.rows(); ++i) {
    log_pdet += std::log(penalty_eigen.eigenvalues()(i));
  }
  const double residual_dof =
      static_cast<double>(y.size()) - static_cast<double>(design.null_space_dim);
  return 0.5 * std::log(a.determinant()) - 0.5 * log_pdet +
         0.5 * residual_dof * std::log(dp / residual_dof);
}

TEST(LamlScore, GaussianMatchesBruteForceRemlUpToAConstant) {
  const auto data = testing::simulate(FamilyKind::Gaussian, 40);
  const ScoreContext context = context_for(FamilyKind::Gaussian, data, 5);
  const Design design = testing::cr_design_of(data.x, 5);
  const double offset = value_at(context, 0.0) - brute_force_reml(design, data.y, 0.0);
  for (const double rho : {-3.0, -1.0, 2.0, 5.0}) {
    EXPECT_NEAR(value_at(context, rho) - brute_force_reml(design, data.y, rho), offset, 1e-8);
  }
}

TEST(LamlScore, GradientMatchesDifferencesWhereTheEnvelopeIsExact) {
  struct Case {
    const char* label;
    FamilyKind family;
    bool weighted;
  };
  const std::array cases = {Case{"gaussian", FamilyKind::Gaussian, false},
                            Case{"gaussian weighted", FamilyKind::Gaussian, true},
                            Case{"inverse gaussian", FamilyKind::InverseGaussian, false},
                            Case{"inverse gaussian weighted", FamilyKind::InverseGaussian, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto data = testing::simulate(c.family, 300);
    std::optional<Vector> weights;
    if (c.weighted) {
      weights = Vector::LinSpaced(300, 0.5, 2.0);
    }
    ScoreContext context = context_for(c.family, data, 8, weights);
    for (const double rho : {-2.0, 0.5, 3.0}) {
      // Tight inner tolerance so the differences see a converged β̂.
      context.settings.tol = 1e-13;
      const auto score = laml_score(context, Vector::Constant(1, rho));
      ASSERT_TRUE(score.has_value());
      const double h = 1e-4;
      const double difference = (value_at(context, rho + h) - value_at(context, rho - h)) / (2 * h);
      EXPECT_NEAR(score->gradient(0), difference, 1e-6 * std::max(1.0, std::abs(difference)));
    }
  }
}

TEST(LamlScore, ExactInterpolationIsDegenerate) {
  // Three points, three coefficients: the unpenalised fit interpolates, Dp → 0.
  testing::Simulated data{RowMatrix(3, 1), Vector(3)};
  data.x << 0.0, 0.5, 1.0;
  data.y << 1.0, 2.0, 3.0;  // linear: the penalty does not touch it
  const ScoreContext context = context_for(FamilyKind::Gaussian, data, 3);
  const auto score = laml_score(context, Vector::Zero(1));
  ASSERT_TRUE(score.has_value());
  EXPECT_EQ(score->value, degenerate_score);
  EXPECT_EQ(score->gradient(0), 0.0);
}

TEST(ScoreWithHessian, CentralDifferenceOfTheGradient) {
  const auto data = testing::simulate(FamilyKind::Poisson, 200);
  const ScoreContext context = context_for(FamilyKind::Poisson, data, 8);
  const auto eval = score_with_hessian(context, Vector::Constant(1, 1.0));
  ASSERT_TRUE(eval.has_value());
  const double plus = laml_score(context, Vector::Constant(1, 1.0 + 1e-5))->gradient(0);
  const double minus = laml_score(context, Vector::Constant(1, 1.0 - 1e-5))->gradient(0);
  EXPECT_EQ(eval->hessian(0, 0), (plus - minus) / 2e-5);
}

}  // namespace
}  // namespace krelm
