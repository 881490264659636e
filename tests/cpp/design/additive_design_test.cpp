// Additive design assembly: layout, penalties, null space, column checks and error order.
#include "design/additive_design.hpp"

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

// Columns 0 and 1 continuous, column 2 a grouping variable with 4 levels.
RowMatrix mixed_covariates() {
  RowMatrix x = seeded_covariates(120, 3, 99, -2.0, 3.0);
  for (Eigen::Index r = 0; r < x.rows(); ++r) {
    x(r, 2) = static_cast<double>((r * 7) % 4);
  }
  return x;
}

bool zero_outside(const RowMatrix& penalty, Eigen::Index first, Eigen::Index last) {
  RowMatrix outside = penalty;
  outside.block(first, first, last - first, last - first).setZero();
  return (outside.array() == 0.0).all();
}

TEST(AdditiveDesign, TwoCrTermsLayout) {
  const RowMatrix x = mixed_covariates();
  const auto design = build_additive_design(x, {CrTermSpec{0, 10}, CrTermSpec{1, 5}});
  ASSERT_TRUE(design.has_value()) << design.error().display();
  const RowMatrix& matrix = design->model_matrix;
  ASSERT_EQ(matrix.cols(), 14);
  EXPECT_TRUE((matrix.col(0).array() == 1.0).all());
  EXPECT_LT(largest_abs_column_sum(matrix, 1, 14), 1e-12);
  const auto* predictor = std::get_if<AdditivePredictor>(&design->predictor.value);
  ASSERT_NE(predictor, nullptr);
  using Range = std::pair<std::uint64_t, std::uint64_t>;
  EXPECT_EQ(predictor->term_col_ranges, (std::vector<Range>{{1, 10}, {10, 14}}));
  EXPECT_EQ(predictor->cols_used, (std::vector<std::vector<std::uint64_t>>{{0}, {1}}));
  ASSERT_EQ(predictor->term_predictors.size(), 2U);
  ASSERT_EQ(design->penalties.size(), 2U);
  EXPECT_TRUE(zero_outside(design->penalties[0].matrix, 1, 10));
  EXPECT_TRUE(zero_outside(design->penalties[1].matrix, 10, 14));
  EXPECT_EQ(design->penalties[0].rank, 8U);
  EXPECT_EQ(design->penalties[1].rank, 3U);
  EXPECT_EQ(design->null_space_dim, 3U);  // intercept and one centred line per term

  // Each block is its term, built and centred on its own.
  const auto second = build_cr_term(x, 1, 5);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(RowMatrix(matrix.middleCols(10, 4)), second->basis);
  EXPECT_EQ(RowMatrix(design->penalties[1].matrix.block(10, 10, 4, 4)), second->penalty);
}

TEST(AdditiveDesign, EveryKindOfTermInOrder) {
  const RowMatrix x = mixed_covariates();
  const std::vector<TermSpec> terms = {CrStableTermSpec{1, 6}, ReTermSpec{2},
                                       TensorTermSpec{0, 1, 5, 4}, CrTermSpec{0, 4},
                                       CrTermSpec{0, 4}};
  const auto design = build_additive_design(x, terms);
  ASSERT_TRUE(design.has_value()) << design.error().display();
  // Widths 5, 4 levels, 5·4 − 1, 3, 3.
  const RowMatrix& matrix = design->model_matrix;
  ASSERT_EQ(matrix.cols(), 1 + 5 + 4 + 19 + 3 + 3);
  const auto* predictor = std::get_if<AdditivePredictor>(&design->predictor.value);
  ASSERT_NE(predictor, nullptr);
  using Range = std::pair<std::uint64_t, std::uint64_t>;
  EXPECT_EQ(predictor->term_col_ranges,
            (std::vector<Range>{{1, 6}, {6, 10}, {10, 29}, {29, 32}, {32, 35}}));
  EXPECT_EQ(predictor->cols_used,
            (std::vector<std::vector<std::uint64_t>>{{1}, {2}, {0, 1}, {0}, {0}}));
  EXPECT_TRUE(std::holds_alternative<CrStablePredictor>(predictor->term_predictors[0].value));
  EXPECT_TRUE(std::holds_alternative<RePredictor>(predictor->term_predictors[1].value));
  EXPECT_TRUE(std::holds_alternative<TensorPredictor>(predictor->term_predictors[2].value));
  EXPECT_TRUE(std::holds_alternative<CrPredictor>(predictor->term_predictors[3].value));

  // Centred kinds sum to zero over the rows; the random effect's indicators do not.
  EXPECT_LT(largest_abs_column_sum(matrix, 1, 6), 1e-11);
  EXPECT_GT(matrix.middleCols(6, 4).colwise().sum().minCoeff(), 29.0);  // 30 rows per level
  EXPECT_LT(largest_abs_column_sum(matrix, 10, 35), 1e-11);
  // The same column twice: two identical, independently centred blocks.
  EXPECT_EQ(RowMatrix(matrix.middleCols(29, 3)), RowMatrix(matrix.middleCols(32, 3)));

  ASSERT_EQ(design->penalties.size(), 6U);  // the tensor term brings two, margin a first
  const std::array<std::pair<Eigen::Index, Eigen::Index>, 6> ranges = {
      {{1, 6}, {6, 10}, {10, 29}, {10, 29}, {29, 32}, {32, 35}}};
  for (std::size_t j = 0; j < ranges.size(); ++j) {
    SCOPED_TRACE(j);
    EXPECT_TRUE(zero_outside(design->penalties[j].matrix, ranges[j].first, ranges[j].second));
  }
  EXPECT_EQ(design->penalties[1].matrix.block(6, 6, 4, 4), RowMatrix::Identity(4, 4));
  // Centred margin penalties: rank (5−2)·4 and (4−2)·5, more than the 19 columns together.
  EXPECT_EQ(design->penalties[2].rank, 12U);
  EXPECT_EQ(design->penalties[3].rank, 10U);
  // Unpenalised: intercept, cr_stable line, the tensor's {x_a, x_b, x_a·x_b} after centring,
  // and each cr line.
  EXPECT_EQ(design->null_space_dim, 1U + 1U + 0U + 3U + 1U + 1U);
}

// The two tensor penalties share their columns, so their joint null space (not the sum of
// their ranks) counts: 1 + {x_a, x_b, x_a·x_b}.
TEST(AdditiveDesign, TensorNullSpaceFromTheSumOfItsPenalties) {
  const RowMatrix x = seeded_covariates(100, 2, 12);
  const auto design = build_additive_design(x, {TensorTermSpec{0, 1, 5, 4}});
  ASSERT_TRUE(design.has_value());
  EXPECT_EQ(design->model_matrix.cols(), 20);
  EXPECT_EQ(design->null_space_dim, 4U);
}

TEST(AdditiveDesign, ColumnCheckRunsBeforeAnyTermIsBuilt) {
  const RowMatrix x = mixed_covariates();
  struct Case {
    const char* label;
    std::vector<TermSpec> terms;
    std::string message;
  };
  const std::array cases = {
      Case{"a later term, though an earlier one has k 2",
           {CrTermSpec{0, 2}, CrTermSpec{3, 5}},
           "Additive term 1 reads column 3 but x has only 3 columns"},
      Case{"tensor col_a before col_b",
           {TensorTermSpec{4, 5, 3, 3}},
           "Additive term 0 reads column 4 but x has only 3 columns"},
      Case{"tensor col_b",
           {ReTermSpec{2}, TensorTermSpec{0, 9, 3, 3}},
           "Additive term 1 reads column 9 but x has only 3 columns"},
      Case{"the first failing term wins",
           {CrTermSpec{0, 5}, CrStableTermSpec{1, 2}, TensorTermSpec{2, 2, 3, 3}},
           "CR spline needs k ≥ 3 (got 2)"},
      Case{"tensor margins must differ",
           {TensorTermSpec{1, 1, 3, 3}, CrTermSpec{0, 1}},
           "Tensor term must have distinct margin columns (got col_a == col_b == 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto design = build_additive_design(x, c.terms);
    ASSERT_FALSE(design.has_value());
    EXPECT_EQ(design.error().display(), "invalid parameter: " + c.message);
  }
  const auto empty = build_additive_design(RowMatrix(0, 2), {CrTermSpec{0, 3}, ReTermSpec{1}});
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(error_message(empty.error()), "Re basis: x is empty");
}

}  // namespace
}  // namespace krelm
