// The ordered-categorical Newton solver: starting values, the penalised score equations
// at convergence, the curvature floor, the iteration rules and the unwrapped factor error.
#include "inner/ocat_newton.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "../fit/shape_data.hpp"
#include "design/design.hpp"
#include "family/ocat.hpp"

namespace krelm {
namespace {

struct StartCase {
  const char* label;
  std::size_t n_cats;
  std::vector<double> thresholds;
  std::vector<double> y;
  std::vector<double> expected;
};

TEST(OcatStartingEta, SitsInTheMiddleOfEachCategory) {
  const std::array cases = {
      // cut points (−∞, −1, 0, +∞): category 1 closes at −2, category 3 at c_2 + 1 = 1
      StartCase{"R = 3", 3, {0.0}, {1.0, 2.0, 3.0}, {-1.5, -0.5, 0.5}},
      // cut points (−∞, −1, 1, 4, +∞)
      StartCase{
          "R = 4", 4, {std::log(2.0), std::log(3.0)}, {1.0, 2.0, 3.0, 4.0}, {-1.5, 0.0, 2.5, 4.5}},
      StartCase{"rounded and clamped responses",
                3,
                {0.0},
                {2.4, 2.5, -7.0, NAN, 9.0},
                {-0.5, 0.5, -1.5, -1.5, 0.5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Vector y = Eigen::Map<const Vector>(c.y.data(), static_cast<Eigen::Index>(c.y.size()));
    const Vector eta = ocat_starting_eta(y, ocat_cut_points(c.n_cats, c.thresholds));
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_DOUBLE_EQ(eta(static_cast<Eigen::Index>(i)), c.expected[i]) << "row " << i;
    }
  }
}

class OcatNewton : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = testing::simulate_ocat(400, {-1.0, 0.0, 1.5}, 2.0);
    design_ = testing::cr_design_of(data_.x, 8);
    penalties_ = {design_.penalties[0].matrix};
  }

  [[nodiscard]] InnerData inner() const { return {design_.model_matrix, data_.y, {}, penalties_}; }

  [[nodiscard]] Expected<InnerFit> fit(const OcatNewtonSettings& settings = {},
                                       const Vector* start_eta = nullptr) const {
    return ocat_newton_fit(inner(), 4, thresholds_, rho_, settings, start_eta);
  }

  testing::Simulated data_;
  Design design_;
  std::vector<RowMatrix> penalties_;
  std::vector<double> thresholds_{0.1, 0.4};
  Vector rho_ = Vector::Constant(1, 1.0);
};

// ∂/∂β [D + βᵀS_λβ] = Xᵀg + 2·S_λβ = 0 at the optimum (g the η-derivatives of D).
TEST_F(OcatNewton, SatisfiesThePenalisedScoreEquations) {
  const auto fitted = fit();
  ASSERT_TRUE(fitted.has_value());
  EXPECT_TRUE(fitted->converged);
  const Vector cuts = ocat_cut_points(4, thresholds_);
  Vector first;
  Vector second;
  ocat_eta_derivatives(data_.y, fitted->eta, cuts, first, second);
  const RowMatrix& x = design_.model_matrix;
  const RowMatrix penalty = std::exp(rho_(0)) * penalties_[0];
  const Vector score = x.transpose() * first + 2.0 * penalty * fitted->beta;
  // Relative to the size of the terms that cancel in each equation.
  const Vector scale =
      x.cwiseAbs().transpose() * first.cwiseAbs() + 2.0 * (penalty * fitted->beta).cwiseAbs();
  EXPECT_LT(score.cwiseQuotient(scale).cwiseAbs().maxCoeff(), 1e-8);
  EXPECT_EQ(fitted->mu, fitted->eta);
  EXPECT_DOUBLE_EQ(fitted->deviance, ocat_deviance(data_.y, fitted->eta, {}, cuts));
  // The returned factor is that of XᵀWX + S_λ at the final η, without a ridge.
  const RowMatrix hessian = x.transpose() * fitted->working_weights.asDiagonal() * x + penalty;
  EXPECT_TRUE((fitted->chol_factor * fitted->chol_factor.transpose()).isApprox(hessian, 1e-12));
}

TEST_F(OcatNewton, FirstIterationNeverConverges) {
  const auto first = fit();
  ASSERT_TRUE(first.has_value());
  // Started at its own optimum η barely moves, yet the first iteration cannot stop.
  const auto restarted = fit({}, &first->eta);
  ASSERT_TRUE(restarted.has_value());
  EXPECT_TRUE(restarted->converged);
  EXPECT_EQ(restarted->n_iter, 2U);
}

TEST_F(OcatNewton, StopsAtTheIterationCapWithoutConverging) {
  // A zero tolerance can never be met strictly: every iteration up to the cap runs.
  const auto capped = fit(OcatNewtonSettings{.max_iter = 5, .tol = 0.0});
  ASSERT_TRUE(capped.has_value());
  EXPECT_FALSE(capped->converged);
  EXPECT_EQ(capped->n_iter, 5U);
  const auto none = fit(OcatNewtonSettings{.max_iter = 0, .tol = 1e-9});
  ASSERT_TRUE(none.has_value());
  EXPECT_FALSE(none->converged);
  EXPECT_EQ(none->n_iter, 0U);
  EXPECT_EQ(none->beta, Vector::Zero(design_.model_matrix.cols()));
}

// An observation far below the top category's interval has h ≈ 2·e^{−30} < 1e-12 while
// g ≈ −2: its weight is the floor and its response step divides by the floor.
TEST_F(OcatNewton, FloorsTheCurvatureOfSaturatedObservations) {
  const Vector cuts = ocat_cut_points(4, thresholds_);
  Vector start = ocat_starting_eta(data_.y, cuts);
  Eigen::Index top = 0;
  while (data_.y(top) != 4.0) {
    ++top;
  }
  start(top) = cuts(3) - 30.0;
  const auto at_start = fit(OcatNewtonSettings{.max_iter = 0, .tol = 1e-9}, &start);
  ASSERT_TRUE(at_start.has_value());
  Vector first;
  Vector second;
  ocat_eta_derivatives(data_.y, start, cuts, first, second);
  ASSERT_LT(second(top), ocat_curvature_floor);
  EXPECT_EQ(at_start->working_weights(top), ocat_curvature_floor);
  EXPECT_EQ(at_start->working_response(top), start(top) - first(top) / ocat_curvature_floor);
  EXPECT_NEAR(first(top), -2.0, 1e-12);
}

// 2·D + λ·βᵀSβ = 2·(D + (λ/2)·βᵀSβ): doubling every prior weight halves the smoothing
// parameter and leaves β̂ unchanged.
TEST_F(OcatNewton, DoubledPriorWeightsActLikeHalfTheSmoothingParameter) {
  const Vector doubled = Vector::Constant(data_.y.size(), 2.0);
  const InnerData weighted{design_.model_matrix,
                           data_.y,
                           {doubled.data(), static_cast<std::size_t>(doubled.size())},
                           penalties_};
  const auto with_weights = ocat_newton_fit(weighted, 4, thresholds_, rho_, {});
  const auto halved =
      ocat_newton_fit(inner(), 4, thresholds_, Vector::Constant(1, rho_(0) - std::log(2.0)), {});
  ASSERT_TRUE(with_weights.has_value() && halved.has_value());
  EXPECT_TRUE(with_weights->beta.isApprox(halved->beta, 1e-8));
  EXPECT_NEAR(with_weights->deviance, 2.0 * halved->deviance, 1e-8 * halved->deviance);
}

TEST(OcatNewtonFailure, ReportsTheUnridgedFactorErrorUnwrapped) {
  // Two identical unpenalised columns: XᵀWX + 0 is exactly singular at its second pivot.
  const RowMatrix x = RowMatrix::Ones(6, 2);
  const Vector y{{1.0, 2.0, 3.0, 1.0, 2.0, 3.0}};
  const std::vector<RowMatrix> penalties{RowMatrix::Zero(2, 2)};
  const InnerData inner{x, y, {}, penalties};
  const auto fitted = ocat_newton_fit(inner, 3, {0.0}, Vector::Zero(1), {});
  ASSERT_FALSE(fitted.has_value());
  EXPECT_TRUE(std::holds_alternative<SingularSystem>(fitted.error().value));
  EXPECT_EQ(error_message(fitted.error()),
            "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 2");
}

}  // namespace
}  // namespace krelm
