// The quantile driver: the warm start and its quantile index, the σ and λ_E rules, the
// ELF Laplace score against a dense reconstruction, the data checks, and the fitted record.
#include "fit/quantile.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "../support/test_models.hpp"
#include "inner/armijo.hpp"
#include "products.hpp"

namespace krelm {
namespace {

// With an intercept-only model and no penalty, β_LS is the mean and the shift is q, so
// β₀ is exactly the k-th smallest y with k = (n − 1)·τ rounded half away from zero.
TEST(ElfWarmStart, InterceptModelLandsOnTheKthSmallestResponse) {
  struct Case {
    const char* label;
    std::vector<double> y;
    double tau;
    double expected_beta;
    double expected_mean_squared;
  };
  const std::array cases = {
      Case{"0.4 rounds down", {5, 1, 4, 2, 3}, 0.1, 1.0, 2.0},
      Case{"0.5 rounds up", {5, 1, 4, 2, 3}, 0.125, 2.0, 2.0},
      Case{"2.5 rounds away from zero", {5, 1, 4, 2, 3}, 0.625, 4.0, 2.0},
      Case{"median", {5, 1, 4, 2, 3}, 0.5, 3.0, 2.0},
      Case{"3.6 rounds up", {5, 1, 4, 2, 3}, 0.9, 5.0, 2.0},
      Case{"one row: index 0 whatever tau", {7}, 0.9, 7.0, 0.0},
      Case{"one row, low tau", {7}, 0.01, 7.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto n = static_cast<Eigen::Index>(c.y.size());
    const RowMatrix x = RowMatrix::Ones(n, 1);
    const Vector y = Eigen::Map<const Vector>(c.y.data(), n);
    const auto warm = elf_warm_start(x, RowMatrix::Zero(1, 1), y, c.tau);
    ASSERT_TRUE(warm.has_value());
    EXPECT_DOUBLE_EQ(warm->beta(0), c.expected_beta);
    EXPECT_DOUBLE_EQ(warm->mean_squared_residual, c.expected_mean_squared);
  }
}

TEST(ElfWarmStart, ShiftsTheLeastSquaresFitToTheResidualQuantile) {
  const auto data = testing::simulate(FamilyKind::Gaussian, 401);
  const Design design = testing::cr_design_of(data.x, 10);
  const RowMatrix& x = design.model_matrix;
  const RowMatrix& penalty = design.penalties[0].matrix;
  const RowMatrix a0 = x.transpose() * x + penalty;
  const Vector least_squares = a0.llt().solve(x.transpose() * data.y);
  const Vector residuals = data.y - x * least_squares;
  for (const double tau : {0.1, 0.5, 0.75}) {
    SCOPED_TRACE(tau);
    const auto warm = elf_warm_start(x, penalty, data.y, tau);
    ASSERT_TRUE(warm.has_value());
    EXPECT_NEAR(warm->mean_squared_residual, residuals.squaredNorm() / 401.0, 1e-12);
    // The centred smooth columns are orthogonal to 1, so the shift moves every fitted
    // value by q: exactly k + 1 responses lie at or below the warm-start curve.
    const auto k = static_cast<Eigen::Index>(std::round(400.0 * tau));
    const Vector fitted = x * warm->beta;
    const Eigen::Index at_or_below = (data.y.array() <= fitted.array() + 1e-12).count();
    EXPECT_EQ(at_or_below, k + 1);
    EXPECT_LT((warm->beta.tail(9) - least_squares.tail(9)).cwiseAbs().maxCoeff(), 1e-9);
  }
}

TEST(ElfWarmStart, ReportsASingularLeastSquaresSystem) {
  const RowMatrix x = RowMatrix::Ones(6, 2);  // two identical columns, no penalty
  const auto warm = elf_warm_start(x, RowMatrix::Zero(2, 2), Vector::Ones(6), 0.5);
  ASSERT_FALSE(warm.has_value());
  ASSERT_TRUE(std::holds_alternative<SingularSystem>(warm.error().value));
  EXPECT_EQ(error_message(warm.error()),
            "ELF warm-start Cholesky: Computational failure in LAPACK subroutine: return_code = 2");
}

TEST(AutoTuneElf, ChoosesOnlyTheValuesThatAreNotPositive) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Expected values: 0.05·√(2π·max(m, 1e-6))/ln 4 · max(1/(4τ(1 − τ)), 1), evaluated
  // left to right in Python's float arithmetic.
  struct Case {
    const char* label;
    double mean_squared;
    double tau;
    double sigma;
    double lambda;
    double expected_sigma;
    double expected_lambda;
  };
  const std::array cases = {
      Case{"median: no tail factor", 1.0, 0.5, 0.0, 0.0, 0.09040750452905508, 0.09040750452905508},
      Case{"tau 0.1 multiplies by 2.78", 1.0, 0.1, 0.0, 0.0, 0.25113195702515295,
           0.25113195702515295},
      Case{"tau 0.3 with m = 0.25", 0.25, 0.3, 0.0, 0.0, 0.05381399079110421, 0.05381399079110421},
      Case{"perfect fit uses the floor", 0.0, 0.5, 0.0, 0.0, 9.040750452905508e-05,
           9.040750452905508e-05},
      Case{"NaN spread uses the floor", nan, 0.5, 0.0, 0.0, 9.040750452905508e-05,
           9.040750452905508e-05},
      Case{"negative sigma is tuned", 1.0, 0.5, -1.0, -3.0, 0.09040750452905508,
           0.09040750452905508},
      Case{"NaN sigma is tuned", 1.0, 0.5, nan, 0.0, 0.09040750452905508, 0.09040750452905508},
      Case{"given sigma is kept and copied to lambda", 1.0, 0.1, 0.3, 0.0, 0.3, 0.3},
      Case{"given lambda is kept", 1.0, 0.5, 0.0, 0.2, 0.09040750452905508, 0.2},
      Case{"both given", 4.0, 0.2, 0.7, 0.01, 0.7, 0.01},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ElfTuning tuned = auto_tune_elf(c.mean_squared, c.tau, c.sigma, c.lambda);
    EXPECT_DOUBLE_EQ(tuned.sigma, c.expected_sigma);
    EXPECT_DOUBLE_EQ(tuned.lambda, c.expected_lambda);
  }
}

struct ElfFixture {
  testing::Simulated data;
  ElfScoreContext context;
};

ElfFixture elf_fixture(double tau) {
  auto data = testing::simulate(FamilyKind::Gaussian, 300);
  Design design = testing::cr_design_of(data.x, 8);
  auto warm = elf_warm_start(design.model_matrix, design.penalties[0].matrix, data.y, tau);
  const ElfTuning tuned = auto_tune_elf(warm->mean_squared_residual, tau, 0.0, 0.0);
  return ElfFixture{data, ElfScoreContext{make_score_context(FamilyKind::Elf, design, data.y, {}),
                                          {tau, tuned.sigma, tuned.lambda},
                                          std::move(warm->beta)}};
}

// V = ½ log det A + ½(D + λβ̂ᵀSβ̂) − ½ ln(2π)·M_p − ½(rρ + ℓ) − n·ℓ_E and
// g = ½λ tr(A⁻¹S) + ½λ β̂ᵀSβ̂ − ½r, rebuilt with Eigen's own factorisation and inverse.
TEST(ElfLamlScore, MatchesADenseReconstruction) {
  for (const double tau : {0.2, 0.5}) {
    SCOPED_TRACE(tau);
    const ElfFixture fixture = elf_fixture(tau);
    const ElfScoreContext& context = fixture.context;
    const Vector rho = Vector::Constant(1, 2.5);
    const auto score = elf_laml_score(context, rho);
    ASSERT_TRUE(score.has_value());
    const ElfProblem problem{.penalties = context.data.penalties,
                             .x = context.data.x,
                             .y = context.data.y,
                             .elf = context.elf,
                             .start_beta = &context.warm_start};
    const auto fit = elf_newton_fit(problem, rho);
    ASSERT_TRUE(fit.has_value());
    const RowMatrix& x = context.data.x;
    const RowMatrix& penalty = context.data.penalties[0];
    const double lambda = std::exp(2.5);
    RowMatrix a = x.transpose() * fit->working_weights.asDiagonal() * x + lambda * penalty;
    a.diagonal().array() += 1e-7 * std::max(1.0, a.diagonal().cwiseAbs().maxCoeff());
    const Eigen::LLT<RowMatrix> llt(a);
    const double log_det = 2.0 * llt.matrixL().toDenseMatrix().diagonal().array().log().sum();
    const RowMatrix inverse = llt.solve(RowMatrix::Identity(a.rows(), a.cols()));
    const double quadratic = fit->beta.dot(penalty * fit->beta);
    const double rank = static_cast<double>(context.data.ranks[0]);
    const double n = 300.0;
    const ElfConstants& elf = context.elf;
    const double expected_value =
        0.5 * log_det + 0.5 * (fit->deviance + lambda * quadratic) -
        0.5 * std::log(2.0 * std::numbers::pi) * static_cast<double>(context.data.null_space_dim) -
        0.5 * (rank * 2.5 + context.data.log_pdets[0]) -
        n * elf_saturated_loglik_per_obs(elf.tau, elf.sigma, elf.lambda);
    const double expected_gradient = 0.5 * lambda * (inverse.cwiseProduct(penalty)).sum() +
                                     0.5 * lambda * quadratic - 0.5 * rank;
    EXPECT_NEAR(score->value, expected_value, 1e-9 * std::abs(expected_value));
    EXPECT_NEAR(score->gradient(0), expected_gradient, 1e-7 * (std::abs(expected_gradient) + 1));
  }
}

TEST(CheckQuantileData, ChecksInTheDocumentedOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  Vector y = Vector::LinSpaced(10, 0.0, 1.0);
  Vector y_nan = y;
  y_nan(3) = nan;
  Vector y_inf = y;
  y_inf(7) = -inf;
  Vector negative_weights = Vector::Ones(10);
  negative_weights(2) = -1.0;
  Vector nan_weights = Vector::Ones(10);
  nan_weights(5) = nan;
  struct Case {
    const char* label;
    std::size_t x_rows;
    Vector y;
    std::optional<Vector> weights;
    std::size_t penalty_count;
    std::string message;
  };
  const std::array cases = {
      Case{"rows before everything", 11, y_nan, Vector::Ones(4), 2,
           "x and y must have the same number of rows; got x.nrows()=11, y.len()=10"},
      Case{"weight length before the penalty count", 10, y_nan, Vector::Ones(4), 2,
           "prior_weights length must match x rows; got weights.len()=4, x.nrows()=10"},
      Case{"penalty count before the response", 10, y_nan, negative_weights, 2,
           "ELF/quantile is restricted to single-smooth fits in 94b; got 2 terms"},
      Case{"no penalty at all", 10, y, std::nullopt, 0,
           "ELF/quantile is restricted to single-smooth fits in 94b; got 0 terms"},
      Case{"NaN response before the weights", 10, y_nan, negative_weights, 1,
           "y must be finite; got y=NaN at row 3"},
      Case{"infinite response", 10, y_inf, std::nullopt, 1,
           "y must be finite; got y=-inf at row 7"},
      Case{"negative weight", 10, y, negative_weights, 1,
           "weights must be finite and non-negative; got weight=-1 at row 2"},
      Case{"NaN weight", 10, y, nan_weights, 1,
           "weights must be finite and non-negative; got weight=NaN at row 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto checked = check_quantile_data(c.x_rows, c.y, c.weights, c.penalty_count);
    ASSERT_FALSE(checked.has_value());
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(checked.error().value));
    EXPECT_EQ(error_message(checked.error()), c.message);
  }
  EXPECT_TRUE(check_quantile_data(10, y, Vector::Zero(10), 1).has_value());
}

TEST(FitQuantile, RefusesADesignWithTwoPenalties) {
  const auto data = testing::simulate(FamilyKind::Gaussian, 50);
  Design design = testing::cr_design_of(data.x, 6);
  design.penalties.push_back(design.penalties[0]);
  const auto fit = fit_quantile(0.5, 0.0, 0.0, std::move(design), 50, data.y, {});
  ASSERT_FALSE(fit.has_value());
  EXPECT_EQ(error_message(fit.error()),
            "ELF/quantile is restricted to single-smooth fits in 94b; got 2 terms");
}

TEST(FitQuantile, ReturnsTheRecordOfTheScoreMinimum) {
  struct Case {
    const char* label;
    double tau;
    double sigma;
  };
  const std::array cases = {Case{"auto-tuned median", 0.5, 0.0},
                            Case{"auto-tuned low quantile", 0.2, 0.0},
                            Case{"given sigma", 0.8, 0.05}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ElfFixture fixture = elf_fixture(c.tau);
    const auto fit = fit_quantile(c.tau, c.sigma, 0.0, testing::cr_design_of(fixture.data.x, 8),
                                  300, fixture.data.y, {});
    ASSERT_TRUE(fit.has_value()) << fit.error().display();
    EXPECT_TRUE(fit->converged);
    if (c.sigma > 0.0) {
      fixture.context.elf = {c.tau, c.sigma, c.sigma};
    }
    const ElfScoreContext& context = fixture.context;
    EXPECT_EQ(fit->scale, context.elf.sigma);
    EXPECT_EQ(fit->shape_params.size(), 0);
    EXPECT_EQ(fit->link_kind, LinkKind::Identity);
    EXPECT_EQ(fit->n, 300U);
    ASSERT_EQ(fit->rho.size(), 1);
    EXPECT_EQ(fit->lambda(0), std::exp(fit->rho(0)));

    // reml_value is the score at ρ̂, and ρ̂ is its minimum.
    const auto at_optimum = elf_laml_score(context, fit->rho);
    ASSERT_TRUE(at_optimum.has_value());
    EXPECT_DOUBLE_EQ(at_optimum->value, fit->reml_value);
    for (const double shift : {-0.1, 0.1}) {
      const Vector moved = fit->rho.array() + shift;
      EXPECT_GE(elf_laml_score(context, moved)->value, fit->reml_value);
    }
    // β̂ and vcov = σ·A⁻¹ come from the Armijo fit at ρ̂ started from the warm start.
    const ElfProblem problem{.penalties = context.data.penalties,
                             .x = context.data.x,
                             .y = context.data.y,
                             .elf = context.elf,
                             .start_beta = &context.warm_start};
    const auto refit = elf_newton_fit(problem, fit->rho);
    ASSERT_TRUE(refit.has_value());
    EXPECT_EQ(fit->beta, refit->beta);
    const RowMatrix a = refit->chol_factor * refit->chol_factor.transpose();
    const RowMatrix expected_vcov =
        context.elf.sigma * a.llt().solve(RowMatrix::Identity(a.rows(), a.cols()));
    EXPECT_LT((fit->vcov - expected_vcov).cwiseAbs().maxCoeff(),
              1e-8 * expected_vcov.cwiseAbs().maxCoeff());
    // A = XᵀWX + λS + δI, so the smooth's edf exceeds edf_total − 1 by δ·tr(A⁻¹).
    const double ridge = 1e-7 * std::max(1.0, a.diagonal().maxCoeff());
    const double ridge_share = ridge * expected_vcov.trace() / context.elf.sigma;
    EXPECT_NEAR(fit->edf_per_term(0) - (fit->edf_total - 1.0), ridge_share, 1e-9);
  }
}

TEST(FitQuantile, NeverReportsConvergenceOnANonFiniteScore) {
  // Responses near 1e200 square to +∞ in the mean squared residual, so σ = λ_E = +∞ and the
  // score is NaN at every ρ.
  const auto data = testing::simulate(FamilyKind::Gaussian, 100);
  const Vector huge = data.y * 1e200;
  const auto fit = fit_quantile(0.5, 0.0, 0.0, testing::cr_design_of(data.x, 6), 100, huge, {});
  ASSERT_TRUE(fit.has_value());
  EXPECT_FALSE(std::isfinite(fit->reml_value));
  EXPECT_FALSE(fit->converged);
}

}  // namespace
}  // namespace krelm
