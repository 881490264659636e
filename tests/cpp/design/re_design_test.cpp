// Random-effect levels, indicators and the re design.
#include "design/re_design.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <variant>

namespace krelm {
namespace {

RowMatrix column_of(std::initializer_list<double> values) {
  RowMatrix x(static_cast<Eigen::Index>(values.size()), 1);
  Eigen::Index r = 0;
  for (const double value : values) {
    x(r++, 0) = value;
  }
  return x;
}

TEST(ReDesign, OneIndicatorPerLevelAndIdentityPenalty) {
  const auto design = build_re_design(column_of({3.0, 1.0, 3.0, 2.0}));
  ASSERT_TRUE(design.has_value());
  RowMatrix expected(4, 4);
  expected << 1, 0, 0, 1,  //
      1, 1, 0, 0,          //
      1, 0, 0, 1,          //
      1, 0, 1, 0;
  EXPECT_EQ(design->model_matrix, expected);
  ASSERT_EQ(design->penalties.size(), 1U);
  const RowMatrix penalty = (Vector(4) << 0.0, 1.0, 1.0, 1.0).finished().asDiagonal();
  EXPECT_EQ(design->penalties[0].matrix, penalty);
  EXPECT_EQ(design->penalties[0].rank, 3U);
  EXPECT_EQ(design->penalties[0].log_pdet, 0.0);
  EXPECT_EQ(design->null_space_dim, 1U);
  const auto* predictor = std::get_if<RePredictor>(&design->predictor.value);
  ASSERT_NE(predictor, nullptr);
  EXPECT_EQ(predictor->levels, (Vector(3) << 1.0, 2.0, 3.0).finished());
}

TEST(ReTerm, SignedZerosAreOneLevel) {
  const RowMatrix x = column_of({-0.0, 1.0, 0.0, -0.0, 0.0});
  const auto term = build_re_term(x, 0);
  ASSERT_TRUE(term.has_value());
  ASSERT_EQ(term->levels.size(), 2);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(term->levels(0)), std::bit_cast<std::uint64_t>(0.0));
  EXPECT_EQ(term->levels(1), 1.0);
  RowMatrix expected(5, 2);
  expected << 1, 0, 0, 1, 1, 0, 1, 0, 1, 0;
  EXPECT_EQ(term->basis, expected);
}

TEST(ReIndicator, UnseenValuesGiveZeroRows) {
  const Vector levels = (Vector(3) << -1.5, 2.0, 7.0).finished();
  const RowMatrix values = column_of({7.0, 4.0, -1.5, 100.0, -9.0, 2.0 + 1e-15, -0.0});
  RowMatrix expected = RowMatrix::Zero(7, 3);
  expected(0, 2) = 1.0;
  expected(2, 0) = 1.0;
  EXPECT_EQ(re_indicator(levels, values.col(0)), expected);
  // −0.0 finds a stored 0.0 level.
  const Vector with_zero = (Vector(2) << 0.0, 1.0).finished();
  EXPECT_EQ(re_indicator(with_zero, column_of({-0.0}).col(0)),
            (RowMatrix(1, 2) << 1, 0).finished());
}

TEST(ReDesign, RefusesAnEmptyColumn) {
  const auto design = build_re_design(RowMatrix(0, 2));
  ASSERT_FALSE(design.has_value());
  EXPECT_EQ(design.error().display(), "invalid parameter: Re basis: x is empty");
}

}  // namespace
}  // namespace krelm
