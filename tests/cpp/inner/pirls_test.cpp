// PIRLS: the penalised score equations hold at convergence, the quasi families reproduce
// their parents exactly, and the iteration caps are honoured.
#include "inner/pirls.hpp"

#include <gtest/gtest.h>

#include <array>

#include "../support/test_models.hpp"
#include "design/design.hpp"
#include "products.hpp"

namespace krelm {
namespace {

struct FamilyCase {
  const char* label;
  FamilyKind kind;
};

// ∂/∂β [D + βᵀS_λβ] = −2·Xᵀ diag(w/(V·g′)) (y − μ) + 2·S_λβ; for these log/logit links
// w/(V g′) is the Fisher weight times g′, i.e. W·(z − η)/(y − μ).
Vector penalised_score(const RowMatrix& x, const RowMatrix& penalty, const InnerFit& fit) {
  const Vector weighted = fit.working_weights.cwiseProduct(fit.working_response - fit.eta);
  return -2.0 * x.transpose() * weighted + 2.0 * penalty * fit.beta;
}

TEST(Pirls, SatisfiesThePenalisedScoreEquations) {
  const std::array cases = {FamilyCase{"poisson", FamilyKind::Poisson},
                            FamilyCase{"bernoulli", FamilyKind::Bernoulli},
                            FamilyCase{"gamma", FamilyKind::Gamma},
                            FamilyCase{"inverse gaussian", FamilyKind::InverseGaussian}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto data = testing::simulate(c.kind, 400);
    Design design = testing::cr_design_of(data.x, 10);
    std::vector<RowMatrix> penalties{design.penalties[0].matrix};
    const InnerData inner{design.model_matrix, data.y, {}, penalties};
    const Vector rho = Vector::Constant(1, 0.5);
    const auto fit = pirls(inner, PirlsFamily{c.kind}, rho, PirlsSettings{});
    ASSERT_TRUE(fit.has_value());
    EXPECT_TRUE(fit->converged);
    const RowMatrix penalty = penalty_sum(penalties, rho);
    const Vector score = penalised_score(design.model_matrix, penalty, *fit);
    // Relative to the size of the terms that cancel in each equation.
    const Vector residual_terms =
        fit->working_weights.cwiseProduct(fit->working_response - fit->eta).cwiseAbs();
    const Vector scale = 2.0 * design.model_matrix.cwiseAbs().transpose() * residual_terms +
                         2.0 * (penalty * fit->beta).cwiseAbs();
    EXPECT_LT(score.cwiseQuotient(scale).cwiseAbs().maxCoeff(), 1e-6);
  }
}

TEST(Pirls, QuasiPoissonReproducesPoissonExactly) {
  const auto data = testing::simulate(FamilyKind::Poisson, 300);
  Design design = testing::cr_design_of(data.x, 8);
  std::vector<RowMatrix> penalties{design.penalties[0].matrix};
  const InnerData inner{design.model_matrix, data.y, {}, penalties};
  const Vector rho = Vector::Constant(1, -1.0);
  const auto poisson = pirls(inner, PirlsFamily{FamilyKind::Poisson}, rho, PirlsSettings{});
  const auto quasi = pirls(inner, PirlsFamily{FamilyKind::QuasiPoisson}, rho, PirlsSettings{});
  ASSERT_TRUE(poisson && quasi);
  EXPECT_EQ(poisson->beta, quasi->beta);
  EXPECT_EQ(poisson->mu, quasi->mu);
  EXPECT_EQ(poisson->deviance, quasi->deviance);
}

TEST(Pirls, HonoursIterationCaps) {
  const auto data = testing::simulate(FamilyKind::Poisson, 200);
  Design design = testing::cr_design_of(data.x, 6);
  std::vector<RowMatrix> penalties{design.penalties[0].matrix};
  const InnerData inner{design.model_matrix, data.y, {}, penalties};
  const Vector rho = Vector::Zero(1);
  const auto zero = pirls(inner, PirlsFamily{FamilyKind::Poisson}, rho, PirlsSettings{0, 1e-9});
  ASSERT_TRUE(zero.has_value());
  EXPECT_EQ(zero->n_iter, 0U);
  EXPECT_FALSE(zero->converged);
  EXPECT_TRUE(zero->beta.isZero());
  const auto one = pirls(inner, PirlsFamily{FamilyKind::Poisson}, rho, PirlsSettings{1, 1e-9});
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->n_iter, 1U);  // the first iteration never converges
  EXPECT_FALSE(one->converged);
  const auto full = pirls(inner, PirlsFamily{FamilyKind::Poisson}, rho, PirlsSettings{});
  ASSERT_TRUE(full.has_value());
  EXPECT_TRUE(full->converged);
  EXPECT_GE(full->n_iter, 2U);
  // The factor is that of XᵀWX + S_λ with the ridge.
  const RowMatrix hessian =
      design.model_matrix.transpose() * full->working_weights.asDiagonal() * design.model_matrix +
      penalty_sum(penalties, rho);
  const RowMatrix rebuilt = full->chol_factor * full->chol_factor.transpose();
  EXPECT_LT((rebuilt - hessian).norm(), 1e-9 * hessian.norm());
}

TEST(Pirls, UnitPriorWeightsChangeNothing) {
  const auto data = testing::simulate(FamilyKind::Gamma, 150);
  Design design = testing::cr_design_of(data.x, 6);
  std::vector<RowMatrix> penalties{design.penalties[0].matrix};
  const Vector ones = Vector::Ones(150);
  const InnerData plain{design.model_matrix, data.y, {}, penalties};
  const InnerData weighted{design.model_matrix, data.y, as_span(ones), penalties};
  const Vector rho = Vector::Zero(1);
  const auto a = pirls(plain, PirlsFamily{FamilyKind::Gamma}, rho, PirlsSettings{});
  const auto b = pirls(weighted, PirlsFamily{FamilyKind::Gamma}, rho, PirlsSettings{});
  ASSERT_TRUE(a && b);
  EXPECT_LT((a->beta - b->beta).norm(), 1e-12 * a->beta.norm());
}

}  // namespace
}  // namespace krelm
