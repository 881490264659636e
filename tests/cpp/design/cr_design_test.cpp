// The centred cr term and the single-smooth cr design.
#include "design/cr_design.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <variant>

#include "basis/cr_basis.hpp"
#include "covariates.hpp"

namespace krelm {
namespace {

using testing::largest_abs_column_sum;
using testing::seeded_covariates;

TEST(CrDesign, InterceptCentredColumnsAndOnePenalty) {
  struct Case {
    const char* label;
    std::size_t k;
    std::size_t rank;
  };
  const std::array cases = {Case{"k 10", 10, 8}, Case{"k 3, the smallest", 3, 1},
                            Case{"k 25", 25, 23}};
  const RowMatrix x = seeded_covariates(200, 1, 11, -3.0, 5.0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto design = build_cr_design(x, c.k);
    ASSERT_TRUE(design.has_value()) << design.error().display();
    const auto p = static_cast<Eigen::Index>(c.k);
    const RowMatrix& matrix = design->model_matrix;
    ASSERT_EQ(matrix.rows(), 200);
    ASSERT_EQ(matrix.cols(), p);
    EXPECT_TRUE((matrix.col(0).array() == 1.0).all());
    // Basis entries are O(1): sums of 200 of them cancel to ~200·ε.
    EXPECT_LT(largest_abs_column_sum(matrix, 1, p), 1e-12);
    ASSERT_EQ(design->penalties.size(), 1U);
    const PenaltyBlock& penalty = design->penalties[0];
    ASSERT_EQ(penalty.matrix.rows(), p);
    ASSERT_EQ(penalty.matrix.cols(), p);
    EXPECT_TRUE((penalty.matrix.row(0).array() == 0.0).all());
    EXPECT_TRUE((penalty.matrix.col(0).array() == 0.0).all());
    EXPECT_EQ(penalty.rank, c.rank);
    EXPECT_EQ(design->null_space_dim, 2U);
    const RankLogDet expected = penalty_rank_logdet(penalty.matrix);
    EXPECT_EQ(penalty.log_pdet, expected.log_pdet);

    const auto* predictor = std::get_if<CrPredictor>(&design->predictor.value);
    ASSERT_NE(predictor, nullptr);
    const auto knots = place_knots(x.col(0), c.k);
    ASSERT_TRUE(knots.has_value());
    EXPECT_EQ(predictor->knots, knots->knots());
    ASSERT_EQ(predictor->centring.rows(), p);
    ASSERT_EQ(predictor->centring.cols(), p - 1);
  }
}

// The scaled centred penalty must be the penalty of the spline in the centred coordinates: the
// roughness of X_c·β equals βᵀ·S_c·β / φ for every β, so S_c = φ·Zᵀ·S·Z with one φ.
TEST(CrTerm, CentredPenaltyIsTheScaledRawPenaltyInCentredCoordinates) {
  const RowMatrix x = seeded_covariates(120, 1, 5);
  const auto term = build_cr_term(x, 0, 7);
  ASSERT_TRUE(term.has_value());
  const auto basis = CrBasis::from_knots(term->knots);
  ASSERT_TRUE(basis.has_value());
  const RowMatrix raw_basis = basis->evaluate(x.col(0));
  const RowMatrix raw_penalty = basis->penalty();
  const RowMatrix unscaled = term->centring.transpose() * raw_penalty * term->centring;
  const double row_norm = raw_basis.cwiseAbs().rowwise().sum().maxCoeff();
  const double penalty_norm = raw_penalty.cwiseAbs().rowwise().sum().maxCoeff();
  const double factor = row_norm * row_norm / penalty_norm;
  EXPECT_LT((term->penalty - factor * unscaled).cwiseAbs().maxCoeff(),
            1e-12 * term->penalty.cwiseAbs().maxCoeff());
  EXPECT_LT((term->basis - raw_basis * term->centring).cwiseAbs().maxCoeff(), 1e-15);
}

TEST(CrDesign, ReadsColumnZeroThroughAnyStridesAndIgnoresOtherColumns) {
  const RowMatrix x = seeded_covariates(60, 3, 21);
  const RowMatrix first_column = x.leftCols(1);
  const auto reference = build_cr_design(first_column, 6);
  ASSERT_TRUE(reference.has_value());
  // Column-major storage seen through a strided row-major view: no copy, same values.
  const Eigen::MatrixXd column_major = x;
  const MatrixView strided(column_major.data(), 60, 3, Strides(1, 60));
  const auto wide = build_cr_design(x, 6);
  const auto transposed_layout = build_cr_design(strided, 6);
  ASSERT_TRUE(wide.has_value());
  ASSERT_TRUE(transposed_layout.has_value());
  EXPECT_EQ(wide->model_matrix, reference->model_matrix);
  EXPECT_EQ(transposed_layout->model_matrix, reference->model_matrix);
  EXPECT_EQ(wide->penalties[0].matrix, reference->penalties[0].matrix);
}

TEST(CrTerm, BuildsTheRequestedColumn) {
  const RowMatrix x = seeded_covariates(40, 2, 8);
  const auto from_second = build_cr_term(x, 1, 5);
  const RowMatrix second_column = x.rightCols(1);
  const auto alone = build_cr_term(second_column, 0, 5);
  ASSERT_TRUE(from_second.has_value());
  ASSERT_TRUE(alone.has_value());
  EXPECT_EQ(from_second->knots, alone->knots);
  EXPECT_EQ(from_second->basis, alone->basis);
}

TEST(CrDesign, KnotPlacementErrorsPassThrough) {
  struct Case {
    const char* label;
    RowMatrix x;
    std::size_t k;
    std::string message;
  };
  const std::array cases = {
      Case{"k 2", seeded_covariates(10, 1, 1), 2, "CR spline needs k ≥ 3 (got 2)"},
      Case{"one distinct value", RowMatrix::Constant(10, 1, 2.5), 4,
           "CR spline knots must be strictly increasing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto design = build_cr_design(c.x, c.k);
    ASSERT_FALSE(design.has_value());
    EXPECT_EQ(design.error().display(), "invalid parameter: " + c.message);
  }
}

}  // namespace
}  // namespace krelm
