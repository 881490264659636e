// The outer Newton loop on synthetic scores: convergence tests, step cap, failed line
// search, iteration cap, Hessian repair.
#include "outer/outer_newton.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace krelm {
namespace {

ScoreEval quadratic(const Vector& rho, const Vector& centre, double curvature) {
  const Vector d = rho - centre;
  return {0.5 * curvature * d.squaredNorm() + 1.0, curvature * d,
          RowMatrix::Identity(rho.size(), rho.size()) * curvature};
}

TEST(OuterNewton, ConvergesOnAQuadratic) {
  const Vector centre = Vector::LinSpaced(2, 1.0, -2.0);
  const auto result = outer_newton(
      [&](const Vector& rho) -> Expected<ScoreEval> { return quadratic(rho, centre, 2.0); },
      Vector::Zero(2));
  ASSERT_TRUE(result.has_value());
  EXPECT_TRUE(result->converged);
  EXPECT_LT((result->rho - centre).norm(), 1e-8);
}

TEST(OuterNewton, AlreadyStationaryStartReturnsWithoutIterating) {
  const auto result = outer_newton(
      [](const Vector& rho) -> Expected<ScoreEval> { return quadratic(rho, rho, 1.0); },
      Vector::Zero(1));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->iters, 0U);
  EXPECT_TRUE(result->converged);
}

TEST(OuterNewton, CapsTheStepAtFive) {
  std::vector<double> trials;
  const Vector centre = Vector::Constant(1, 100.0);
  (void)outer_newton(
      [&](const Vector& rho) -> Expected<ScoreEval> {
        trials.push_back(rho(0));
        return quadratic(rho, centre, 1.0);
      },
      Vector::Zero(1));
  ASSERT_GE(trials.size(), 2U);
  EXPECT_EQ(trials[1], 5.0);
}

TEST(OuterNewton, FailedLineSearchEndsWithoutError) {
  // A score that rejects every trial: converged only if the gradient is already small.
  int calls = 0;
  const auto result = outer_newton(
      [&](const Vector& /*rho*/) -> Expected<ScoreEval> {
        if (calls++ == 0) {
          return ScoreEval{1.0, Vector::Constant(1, 1.0), RowMatrix::Identity(1, 1)};
        }
        return std::unexpected(singular_system("trial"));
      },
      Vector::Zero(1));
  ASSERT_TRUE(result.has_value());
  EXPECT_FALSE(result->converged);
  EXPECT_EQ(result->iters, 1U);
  EXPECT_EQ(calls, 11);  // the start, then α = 1, 1/2, …, 1/512
}

TEST(OuterNewton, GivesUpAfterFiftyAcceptedSteps) {
  // A score that keeps decreasing along ρ without a minimum.
  const auto result = outer_newton(
      [](const Vector& rho) -> Expected<ScoreEval> {
        return ScoreEval{-rho(0), Vector::Constant(1, -1.0), RowMatrix::Identity(1, 1)};
      },
      Vector::Zero(1));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().display(),
            "solver did not converge after 50 iterations (last grad norm = 1.000e0)");
}

TEST(RepairHessian, FloorsEigenvalues) {
  RowMatrix one(1, 1);
  one << -3.0;
  EXPECT_EQ(repair_hessian(one)(0, 0), curvature_floor);
  RowMatrix two(2, 2);
  two << 1.0, 2.0, 2.0, 1.0;  // eigenvalues 3 and −1
  const RowMatrix repaired = repair_hessian(two);
  Eigen::SelfAdjointEigenSolver<RowMatrix> eigen(repaired);
  EXPECT_NEAR(eigen.eigenvalues()(0), curvature_floor, 1e-12);
  EXPECT_NEAR(eigen.eigenvalues()(1), 3.0, 1e-12);
}

}  // namespace
}  // namespace krelm
