// The stable reparametrisation and the cr_stable design against the cr design.
#include "design/cr_stable_design.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <variant>

#include "covariates.hpp"
#include "design/cr_design.hpp"

namespace krelm {
namespace {

using testing::largest_abs_column_sum;
using testing::seeded_covariates;

TEST(CrStableDesign, DiagonalDescendingPenaltyWithTheCrColumnSpace) {
  const RowMatrix x = seeded_covariates(150, 1, 3, 10.0, 20.0);
  for (const std::size_t k : {3U, 8U, 12U}) {
    SCOPED_TRACE(k);
    const auto stable = build_cr_stable_design(x, k);
    const auto plain = build_cr_design(x, k);
    ASSERT_TRUE(stable.has_value()) << stable.error().display();
    ASSERT_TRUE(plain.has_value());
    const auto p = static_cast<Eigen::Index>(k);
    const Eigen::Index m = p - 1;
    ASSERT_EQ(stable->model_matrix.cols(), p);
    EXPECT_TRUE((stable->model_matrix.col(0).array() == 1.0).all());
    EXPECT_LT(largest_abs_column_sum(stable->model_matrix, 1, p), 1e-11);

    const RowMatrix penalty = stable->penalties[0].matrix.bottomRightCorner(m, m);
    const double scale = penalty.cwiseAbs().maxCoeff();
    RowMatrix off_diagonal = penalty;
    off_diagonal.diagonal().setZero();
    // Rounding of two products with an orthogonal V: a few ulps of the largest entry.
    EXPECT_LT(off_diagonal.cwiseAbs().maxCoeff(), 1e-13 * scale);
    for (Eigen::Index i = 0; i + 1 < m; ++i) {
      EXPECT_GE(penalty(i, i), penalty(i + 1, i + 1)) << "diagonal entry " << i;
    }
    EXPECT_LT(std::abs(penalty(m - 1, m - 1)), 1e-12 * scale);  // the centred line
    EXPECT_EQ(stable->penalties[0].rank, k - 2);
    EXPECT_EQ(stable->null_space_dim, 2U);

    // Same function space and same penalty in other coordinates: X_s·Vᵀ = X_c, V·S_s·Vᵀ = S_c.
    const auto* predictor = std::get_if<CrStablePredictor>(&stable->predictor.value);
    ASSERT_NE(predictor, nullptr);
    const RowMatrix& v = predictor->reparam_v;
    ASSERT_EQ(v.rows(), m);
    ASSERT_EQ(v.cols(), m);
    EXPECT_LT((v.transpose() * v - RowMatrix::Identity(m, m)).cwiseAbs().maxCoeff(), 1e-14);
    const RowMatrix back = stable->model_matrix.rightCols(m) * v.transpose();
    EXPECT_LT((back - plain->model_matrix.rightCols(m)).cwiseAbs().maxCoeff(), 1e-13);
    const RowMatrix penalty_back = v * penalty * v.transpose();
    EXPECT_LT(
        (penalty_back - plain->penalties[0].matrix.bottomRightCorner(m, m)).cwiseAbs().maxCoeff(),
        1e-12 * scale);
    EXPECT_NEAR(stable->penalties[0].log_pdet, plain->penalties[0].log_pdet, 1e-9);
    const auto* plain_predictor = std::get_if<CrPredictor>(&plain->predictor.value);
    ASSERT_NE(plain_predictor, nullptr);
    EXPECT_EQ(predictor->knots, plain_predictor->knots);
    EXPECT_EQ(predictor->centring, plain_predictor->centring);
  }
}

TEST(StableReparam, EigenvectorsInDescendingEigenvalueOrder) {
  RowMatrix penalty(3, 3);
  penalty << 2.0, 1.0, 0.0, 1.0, 2.0, 0.0, 0.0, 0.0, 5.0;  // eigenvalues 5, 3, 1
  const auto reparam = StableReparam::create(penalty, 3);
  ASSERT_TRUE(reparam.has_value());
  const Vector expected = (Vector(3) << 5.0, 3.0, 1.0).finished();
  EXPECT_LT((reparam->eigenvalues - expected).cwiseAbs().maxCoeff(), 1e-14);
  const RowMatrix& v = reparam->reparam_v;
  EXPECT_LT((penalty * v - v * expected.asDiagonal()).cwiseAbs().maxCoeff(), 1e-14);
}

TEST(StableReparam, RefusesAWrongShape) {
  struct Case {
    const char* label;
    RowMatrix penalty;
    std::size_t m;
    std::string message;
  };
  const std::array cases = {
      Case{"not square", RowMatrix::Zero(3, 2), 3,
           "StableReparam: inner_penalty must be (3, 3); got (3, 2)"},
      Case{"square of another size", RowMatrix::Zero(2, 2), 4,
           "StableReparam: inner_penalty must be (4, 4); got (2, 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto reparam = StableReparam::create(c.penalty, c.m);
    ASSERT_FALSE(reparam.has_value());
    EXPECT_EQ(reparam.error().display(), "invalid parameter: " + c.message);
  }
}

TEST(CrStableDesign, KnotPlacementErrorsPassThrough) {
  const auto design = build_cr_stable_design(seeded_covariates(10, 1, 2), 2);
  ASSERT_FALSE(design.has_value());
  EXPECT_EQ(error_message(design.error()), "CR spline needs k ≥ 3 (got 2)");
  const auto single = build_cr_stable_design(RowMatrix::Constant(5, 1, 1.0), 5);
  ASSERT_FALSE(single.has_value());
  EXPECT_EQ(error_message(single.error()), "CR spline knots must be strictly increasing");
}

}  // namespace
}  // namespace krelm
