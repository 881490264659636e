// The Armijo-damped ELF Newton solver: stationarity at convergence, its stopping rules
// (tolerance from the first iteration, exhausted line search, iteration cap), the parameter
// checks and the Cholesky failures.
#include "inner/armijo.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "../support/test_models.hpp"
#include "design/design.hpp"
#include "products.hpp"

namespace krelm {
namespace {

struct ElfModel {
  Design design;
  Vector y;
  std::vector<RowMatrix> penalties;
};

ElfModel elf_model(Eigen::Index n, std::size_t k) {
  const auto data = testing::simulate(FamilyKind::Gaussian, n);
  ElfModel model{testing::cr_design_of(data.x, k), data.y, {}};
  model.penalties.push_back(model.design.penalties[0].matrix);
  return model;
}

ElfProblem problem_of(const ElfModel& model, ElfConstants elf) {
  return ElfProblem{
      .penalties = model.penalties, .x = model.design.model_matrix, .y = model.y, .elf = elf};
}

TEST(ElfNewtonFit, ConvergesToAStationaryPointOfThePenalisedLoss) {
  const ElfModel model = elf_model(300, 8);
  const std::array constants = {ElfConstants{0.5, 0.1, 0.1}, ElfConstants{0.1, 0.3, 0.05},
                                ElfConstants{0.9, 1.0, 0.5}};
  const Vector rho = Vector::Constant(1, 1.0);
  const RowMatrix& x = model.design.model_matrix;
  const RowMatrix penalty = penalty_sum(model.penalties, rho);
  for (const auto& elf : constants) {
    SCOPED_TRACE(elf.tau);
    const auto fit = elf_newton_fit(problem_of(model, elf), rho);
    ASSERT_TRUE(fit.has_value()) << fit.error().display();
    EXPECT_TRUE(fit->converged);
    EXPECT_GE(fit->n_iter, 2U);
    // ∂/∂β [Σ d_i + βᵀS_λβ] = −2·Xᵀg + 2·S_λβ, compared with the size of its two terms.
    Vector gradient;
    Vector weights;
    Vector response;
    elf_newton_terms(model.y, fit->eta, elf, gradient, weights, response);
    const Vector score = -2.0 * x.transpose() * gradient + 2.0 * penalty * fit->beta;
    const Vector size = 2.0 * x.cwiseAbs().transpose() * gradient.cwiseAbs() +
                        2.0 * (penalty * fit->beta).cwiseAbs();
    EXPECT_LT(score.cwiseQuotient(size).cwiseAbs().maxCoeff(), 1e-5);

    double deviance = 0.0;
    for (Eigen::Index i = 0; i < model.y.size(); ++i) {
      deviance += elf_unit_deviance(model.y(i), fit->eta(i), elf);
    }
    EXPECT_NEAR(fit->deviance, deviance, 1e-12 * deviance);
    EXPECT_EQ(fit->deviance, fit->pearson);
    EXPECT_EQ(fit->mu, fit->eta);
    EXPECT_EQ(fit->working_weights, weights);
    EXPECT_EQ(fit->working_response, response);
    EXPECT_FALSE(fit->log_det.has_value());
    EXPECT_FALSE(fit->extra.has_value());
    // The factor is that of XᵀWX + S_λ with the 1e-7 ridge.
    RowMatrix hessian = x.transpose() * weights.asDiagonal() * x + penalty;
    const double ridge = 1e-7 * std::max(1.0, hessian.diagonal().cwiseAbs().maxCoeff());
    hessian.diagonal().array() += ridge;
    const RowMatrix rebuilt = fit->chol_factor * fit->chol_factor.transpose();
    EXPECT_LT((rebuilt - hessian).norm(), 1e-10 * hessian.norm());
  }
}

TEST(ElfNewtonFit, StartAtTheOptimumConvergesInOneIteration) {
  const ElfModel model = elf_model(200, 6);
  const Vector rho = Vector::Constant(1, 0.5);
  ElfProblem tight = problem_of(model, {0.3, 0.2, 0.2});
  tight.tol = 1e-12;
  const auto optimum = elf_newton_fit(tight, rho);
  ASSERT_TRUE(optimum.has_value());
  ASSERT_TRUE(optimum->converged);

  ElfProblem restarted = problem_of(model, {0.3, 0.2, 0.2});
  restarted.start_beta = &optimum->beta;
  const auto fit = elf_newton_fit(restarted, rho);
  ASSERT_TRUE(fit.has_value());
  EXPECT_TRUE(fit->converged);
  EXPECT_EQ(fit->n_iter, 1U);
  EXPECT_LT((fit->beta - optimum->beta).cwiseAbs().maxCoeff(), 1e-7);
}

// Every residual is 40λ, so all Newton weights are below 1e-17 and the Newton system is
// essentially the ridged penalty: the intercept's Newton step is about n·τ/(σ·1e-7) = 2.5e8
// and overshoots the data by far. Halved twenty times it still moves η by about 480, past
// the data, so every trial raises the objective; from 2⁻²² on the steps are short enough.
TEST(ElfNewtonFit, ExhaustedLineSearchKeepsBetaAndCountsAsConverged) {
  const Eigen::Index n = 50;
  RowMatrix x(n, 2);
  Vector y(n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n - 1) - 0.5;
    x(i, 0) = 1.0;
    x(i, 1) = t;
    y(i) = 40.0 + 0.1 * t;
  }
  RowMatrix penalty = RowMatrix::Zero(2, 2);
  penalty(1, 1) = 1.0;
  const std::vector<RowMatrix> penalties{penalty};
  const Vector start = Vector::Zero(2);
  struct Case {
    const char* label;
    std::size_t max_halvings;
    bool moves;
  };
  const std::array cases = {Case{"twenty trials all rejected", 20, false},
                            Case{"thirty trials reach an accepted step", 30, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ElfProblem problem{.penalties = penalties,
                             .x = x,
                             .y = y,
                             .elf = {0.5, 1.0, 1.0},
                             .max_iter = 1,
                             .max_halvings = c.max_halvings,
                             .start_beta = &start};
    const auto fit = elf_newton_fit(problem, Vector::Zero(1));
    ASSERT_TRUE(fit.has_value());
    EXPECT_EQ(fit->n_iter, 1U);
    if (c.moves) {
      EXPECT_FALSE(fit->converged);  // the one iteration allowed moved β by far more than tol
      EXPECT_GT(fit->beta(0), 1.0);
    } else {
      EXPECT_TRUE(fit->converged);
      EXPECT_EQ(fit->beta, start);
    }
  }
}

TEST(ElfNewtonFit, ZeroIterationsFinaliseAtTheStart) {
  const ElfModel model = elf_model(120, 6);
  const Vector start = Vector::LinSpaced(6, -0.5, 0.5);
  ElfProblem problem = problem_of(model, {0.5, 0.2, 0.1});
  problem.max_iter = 0;
  problem.start_beta = &start;
  const auto fit = elf_newton_fit(problem, Vector::Zero(1));
  ASSERT_TRUE(fit.has_value());
  EXPECT_EQ(fit->n_iter, 0U);
  EXPECT_FALSE(fit->converged);
  EXPECT_EQ(fit->beta, start);
  EXPECT_EQ(fit->eta, design_times(model.design.model_matrix, start));
  EXPECT_EQ(fit->deviance, fit->pearson);

  problem.start_beta = nullptr;  // absent start: β = 0
  const auto from_zero = elf_newton_fit(problem, Vector::Zero(1));
  ASSERT_TRUE(from_zero.has_value());
  EXPECT_TRUE(from_zero->beta.isZero(0.0));
  EXPECT_EQ(from_zero->beta.size(), 6);
}

TEST(ElfNewtonFit, RefusesBadConstantsAndReportsFailedFactorisations) {
  const ElfModel model = elf_model(60, 5);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // A negative definite "penalty" makes XᵀWX + S_λ + δI indefinite from its first pivot.
  const std::vector<RowMatrix> indefinite{RowMatrix(-1e6 * RowMatrix::Identity(5, 5))};
  struct Case {
    const char* label;
    ElfConstants elf;
    const std::vector<RowMatrix>* penalties;
    std::size_t max_iter;
    std::string message;
  };
  const std::array cases = {
      Case{"sigma zero",
           {0.5, 0.0, 1.0},
           &model.penalties,
           50,
           "ELF σ and λ must be > 0; got σ=0 λ=1"},
      Case{"lambda NaN",
           {0.5, 1.0, nan},
           &model.penalties,
           50,
           "ELF σ and λ must be > 0; got σ=1 λ=NaN"},
      Case{"tau one", {1.0, 1.0, 1.0}, &model.penalties, 50, "ELF τ must be in (0, 1); got 1"},
      Case{"tau checked first",
           {-0.5, 0.0, 1.0},
           &model.penalties,
           50,
           "ELF τ must be in (0, 1); got -0.5"},
      Case{"factor during the iterations",
           {0.5, 1.0, 1.0},
           &indefinite,
           50,
           "ELF Cholesky: Computational failure in LAPACK subroutine: return_code = 1"},
      Case{"factor at finalisation",
           {0.5, 1.0, 1.0},
           &indefinite,
           0,
           "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const ElfProblem problem{.penalties = *c.penalties,
                             .x = model.design.model_matrix,
                             .y = model.y,
                             .elf = c.elf,
                             .max_iter = c.max_iter};
    const auto fit = elf_newton_fit(problem, Vector::Zero(1));
    ASSERT_FALSE(fit.has_value());
    EXPECT_EQ(error_message(fit.error()), c.message);
    const bool bad_constants = c.penalties == &model.penalties;
    EXPECT_EQ(std::holds_alternative<InvalidParameter>(fit.error().value), bad_constants);
    EXPECT_EQ(std::holds_alternative<SingularSystem>(fit.error().value), !bad_constants);
  }
}

}  // namespace
}  // namespace krelm
