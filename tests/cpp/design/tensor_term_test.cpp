// Tensor-product term: shapes, centring, margin penalty rescaling, symmetry under swapping
// the margins, and its errors.
#include "design/tensor_term.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "basis/cr_basis.hpp"
#include "covariates.hpp"
#include "linalg.hpp"

namespace krelm {
namespace {

using testing::seeded_covariates;

double largest_eigenvalue(const RowMatrix& matrix) {
  const auto eigen = symmetric_eigen(matrix);
  EXPECT_TRUE(eigen.has_value());
  return eigen->values.maxCoeff();
}

TEST(TensorTerm, ShapesCentringAndPredictor) {
  RowMatrix x = seeded_covariates(90, 3, 17, -1.0, 1.0);
  for (Eigen::Index r = 0; r < x.rows(); ++r) {
    x(r, 2) = static_cast<double>(r % 3);  // 3 distinct values for a k_b = 4 margin
  }
  const auto term = build_tensor_term(x, 0, 2, 5, 4);
  ASSERT_TRUE(term.has_value()) << term.error().display();
  EXPECT_EQ(term->basis.rows(), 90);
  EXPECT_EQ(term->basis.cols(), 19);
  EXPECT_EQ(term->penalty_a.rows(), 19);
  EXPECT_EQ(term->penalty_a.cols(), 19);
  EXPECT_EQ(term->penalty_b.rows(), 19);
  EXPECT_EQ(term->penalty_b.cols(), 19);
  // Entries are products of O(1) basis values; 90 of them cancel to ~1e-14.
  EXPECT_LT(term->basis.colwise().sum().cwiseAbs().maxCoeff(), 1e-12);

  const TensorPredictor& predictor = term->predictor;
  EXPECT_EQ(predictor.col_a, 0U);
  EXPECT_EQ(predictor.col_b, 2U);
  const auto knots_a = place_knots(x.col(0), 5);
  ASSERT_TRUE(knots_a.has_value());
  EXPECT_EQ(predictor.knots_a, knots_a->knots());
  // Fewer distinct values than k: evenly spaced from 0 to 2.
  EXPECT_EQ(predictor.knots_b, (Vector(4) << 0.0, 2.0 / 3.0, 4.0 / 3.0, 2.0).finished());
  EXPECT_EQ(predictor.xp_a, RowMatrix::Identity(5, 5));
  EXPECT_EQ(predictor.xp_b, RowMatrix::Identity(4, 4));
  EXPECT_EQ(predictor.centring.rows(), 20);
  EXPECT_EQ(predictor.centring.cols(), 19);
  const RowMatrix product =
      row_tensor_product(CrBasis::from_knots(predictor.knots_a)->evaluate(x.col(0)),
                         CrBasis::from_knots(predictor.knots_b)->evaluate(x.col(2)));
  const RowMatrix centred = product * predictor.centring;
  EXPECT_EQ((term->basis - centred).cwiseAbs().maxCoeff(), 0.0);
}

// Oracle: the expanded penalties written entry by entry from the product index
// j = i_a·k_b + i_b, with margins rescaled by an independent eigen-decomposition.
TEST(TensorTerm, PenaltiesAreRescaledMarginsExpandedOverTheProductIndex) {
  const RowMatrix x = seeded_covariates(80, 2, 41, 0.0, 50.0);
  constexpr Eigen::Index k_a = 5;
  constexpr Eigen::Index k_b = 4;
  const auto term = build_tensor_term(x, 0, 1, k_a, k_b);
  ASSERT_TRUE(term.has_value());
  const auto margin_a = CrBasis::from_knots(term->predictor.knots_a);
  const auto margin_b = CrBasis::from_knots(term->predictor.knots_b);
  ASSERT_TRUE(margin_a.has_value());
  ASSERT_TRUE(margin_b.has_value());
  const RowMatrix raw_a = margin_a->penalty();
  const RowMatrix raw_b = margin_b->penalty();
  const RowMatrix s_a = raw_a / largest_eigenvalue(raw_a);
  const RowMatrix s_b = raw_b / largest_eigenvalue(raw_b);
  RowMatrix expanded_a = RowMatrix::Zero(k_a * k_b, k_a * k_b);
  RowMatrix expanded_b = RowMatrix::Zero(k_a * k_b, k_a * k_b);
  for (Eigen::Index i_a = 0; i_a < k_a; ++i_a) {
    for (Eigen::Index i_b = 0; i_b < k_b; ++i_b) {
      for (Eigen::Index other_a = 0; other_a < k_a; ++other_a) {
        expanded_a(i_a * k_b + i_b, other_a * k_b + i_b) = s_a(i_a, other_a);
      }
      for (Eigen::Index other_b = 0; other_b < k_b; ++other_b) {
        expanded_b(i_a * k_b + i_b, i_a * k_b + other_b) = s_b(i_b, other_b);
      }
    }
  }
  // Before centring each penalty's largest eigenvalue is 1, whatever the covariate units.
  EXPECT_NEAR(largest_eigenvalue(expanded_a), 1.0, 1e-13);
  EXPECT_NEAR(largest_eigenvalue(expanded_b), 1.0, 1e-13);
  const RowMatrix& z = term->predictor.centring;
  const RowMatrix centred_a = z.transpose() * expanded_a * z;
  const RowMatrix centred_b = z.transpose() * expanded_b * z;
  EXPECT_LT((term->penalty_a - centred_a).cwiseAbs().maxCoeff(), 1e-14);
  EXPECT_LT((term->penalty_b - centred_b).cwiseAbs().maxCoeff(), 1e-14);
}

TEST(RowTensorProduct, MarginAIsTheSlowIndexAndRowsSumToOne) {
  RowMatrix a(2, 2);
  a << 1.0, 2.0, 3.0, 4.0;
  RowMatrix b(2, 3);
  b << 5.0, 6.0, 7.0, 8.0, 9.0, 10.0;
  RowMatrix expected(2, 6);
  expected << 5, 6, 7, 10, 12, 14,  //
      24, 27, 30, 32, 36, 40;
  EXPECT_EQ(row_tensor_product(a, b), expected);

  const RowMatrix x = seeded_covariates(30, 2, 4, -0.5, 1.5);  // some rows beyond the knots
  const Vector knots = (Vector(4) << 0.0, 0.3, 0.6, 1.0).finished();
  const auto basis = CrBasis::from_knots(knots);
  ASSERT_TRUE(basis.has_value());
  const RowMatrix product =
      row_tensor_product(basis->evaluate(x.col(0)), basis->evaluate(x.col(1)));
  EXPECT_LT((product.rowwise().sum().array() - 1.0).abs().maxCoeff(), 1e-12);
}

TEST(RescaleMarginPenalty, LargestEigenvalueBecomesOne) {
  const auto basis = CrBasis::from_knots((Vector(5) << 0.0, 10.0, 15.0, 40.0, 41.0).finished());
  ASSERT_TRUE(basis.has_value());
  const auto rescaled = rescale_margin_penalty(basis->penalty());
  ASSERT_TRUE(rescaled.has_value());
  EXPECT_NEAR(largest_eigenvalue(*rescaled), 1.0, 1e-14);

  const RowMatrix zero = RowMatrix::Zero(3, 3);
  EXPECT_EQ(*rescale_margin_penalty(zero), zero);
  const RowMatrix negative = -RowMatrix::Identity(2, 2);
  EXPECT_EQ(*rescale_margin_penalty(negative), negative);
}

// Reordering the margins maps coefficient i_a·k_b + i_b to i_b·k_a + i_a. The centring of each
// term is a different orthonormal basis of the same constrained space, so compare the
// projections back to the product space: X·Zᵀ and Z·S·Zᵀ.
TEST(TensorTerm, SwappingMarginsPermutesCoefficientsAndSwapsPenalties) {
  const RowMatrix x = seeded_covariates(70, 2, 31);
  const auto forward = build_tensor_term(x, 0, 1, 5, 4);
  const auto swapped = build_tensor_term(x, 1, 0, 4, 5);
  ASSERT_TRUE(forward.has_value());
  ASSERT_TRUE(swapped.has_value());
  constexpr Eigen::Index k_a = 5;
  constexpr Eigen::Index k_b = 4;
  Eigen::PermutationMatrix<Eigen::Dynamic> to_swapped(k_a * k_b);
  for (Eigen::Index i_a = 0; i_a < k_a; ++i_a) {
    for (Eigen::Index i_b = 0; i_b < k_b; ++i_b) {
      to_swapped.indices()(i_a * k_b + i_b) = static_cast<int>(i_b * k_a + i_a);
    }
  }
  const RowMatrix& z = forward->predictor.centring;
  const RowMatrix& z_swapped = swapped->predictor.centring;
  const RowMatrix basis = forward->basis * z.transpose();
  const RowMatrix basis_swapped = swapped->basis * z_swapped.transpose() * to_swapped;
  EXPECT_LT((basis - basis_swapped).cwiseAbs().maxCoeff(), 1e-13);
  const auto projected = [](const RowMatrix& centring, const RowMatrix& penalty) {
    return RowMatrix(centring * penalty * centring.transpose());
  };
  const RowMatrix a = projected(z, forward->penalty_a);
  const RowMatrix b = projected(z, forward->penalty_b);
  const RowMatrix a_swapped =
      to_swapped.transpose() * projected(z_swapped, swapped->penalty_b) * to_swapped;
  const RowMatrix b_swapped =
      to_swapped.transpose() * projected(z_swapped, swapped->penalty_a) * to_swapped;
  EXPECT_LT((a - a_swapped).cwiseAbs().maxCoeff(), 1e-13);
  EXPECT_LT((b - b_swapped).cwiseAbs().maxCoeff(), 1e-13);
  EXPECT_GT((a - b).cwiseAbs().maxCoeff(), 0.1);  // the check above can tell them apart
}

TEST(TensorTerm, ErrorsInOrder) {
  RowMatrix x = seeded_covariates(20, 3, 6);
  x.col(1).setConstant(3.0);
  struct Case {
    const char* label;
    std::size_t col_a;
    std::size_t col_b;
    std::size_t k_a;
    std::size_t k_b;
    std::string message;
  };
  const std::array cases = {
      Case{"same column, before any knot", 2, 2, 1, 1,
           "Tensor term must have distinct margin columns (got col_a == col_b == 2)"},
      Case{"margin a first", 1, 0, 5, 2, "CR spline knots must be strictly increasing"},
      Case{"margin a first, other way round", 0, 1, 2, 5, "CR spline needs k ≥ 3 (got 2)"},
      Case{"margin b", 0, 2, 4, 0, "CR spline needs k ≥ 3 (got 0)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto term = build_tensor_term(x, c.col_a, c.col_b, c.k_a, c.k_b);
    ASSERT_FALSE(term.has_value());
    EXPECT_EQ(term.error().display(), "invalid parameter: " + c.message);
  }
}

}  // namespace
}  // namespace krelm
