// Prediction arithmetic: the normal quantile, the two-branch logistic, interval levels.
#include "fit/prediction.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace krelm {
namespace {

TEST(NormalQuantile, AcklamValuesInEveryRegion) {
  EXPECT_EQ(normal_quantile(0.5), 0.0);
  EXPECT_EQ(normal_quantile(0.975), 1.959963986120195);
  // Tails (p < 0.02425 and p > 0.97575) against the exact quantiles to the method's ~1e-9.
  EXPECT_NEAR(normal_quantile(0.995), 2.5758293035489004, 1e-8);
  EXPECT_NEAR(normal_quantile(0.001), -3.090232306167813, 1e-8);
  for (const double p : {0.001, 0.01, 0.3, 0.7, 0.99}) {
    EXPECT_NEAR(normal_quantile(1.0 - p), -normal_quantile(p), 1e-9);
  }
}

TEST(IntervalQuantile, RefusesLevelsOutsideTheOpenUnitInterval) {
  struct LevelCase {
    double level;
    const char* message;
  };
  const std::array cases = {
      LevelCase{1.0, "level must be in (0, 1); got level=1"},
      LevelCase{0.0, "level must be in (0, 1); got level=0"},
      LevelCase{std::nan(""), "level must be in (0, 1); got level=NaN"},
      // Passes the open-interval test, but (level + 1)·0.5 rounds to exactly 1.
      LevelCase{0.9999999999999999, "level must be in (0, 1); got level=0.9999999999999999"},
  };
  for (const auto& c : cases) {
    const auto z = interval_quantile(c.level);
    ASSERT_FALSE(z.has_value());
    EXPECT_EQ(error_message(z.error()), c.message);
  }
  EXPECT_EQ(*interval_quantile(0.95), 1.959963986120195);
}

TEST(InverseLink, LogisticSaturatesWithoutOverflow) {
  Vector eta(3);
  eta << -800.0, 0.0, 800.0;
  const Vector mu = apply_inverse_link(LinkKind::Logit, eta);
  EXPECT_EQ(mu(0), 0.0);
  EXPECT_EQ(mu(1), 0.5);
  EXPECT_EQ(mu(2), 1.0);
}

TEST(Intervals, NanCovarianceGivesZeroWidth) {
  RowMatrix lpmatrix(2, 2);
  lpmatrix << 1.0, 0.5, 1.0, -0.5;
  const Vector beta = Vector::Ones(2);
  const RowMatrix vcov = RowMatrix::Constant(2, 2, std::nan(""));
  const Interval interval = linear_predictor_interval(lpmatrix, beta, vcov, 1.96);
  EXPECT_EQ(interval.lower, interval.centre);
  EXPECT_EQ(interval.upper, interval.centre);
}

}  // namespace
}  // namespace krelm
