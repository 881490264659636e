// Ordered categorical cut points, categories, probabilities and deviance derivatives.
#include "family/ocat.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace krelm {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

Vector single(double value) { return Vector::Constant(1, value); }

TEST(OcatCutPoints, FirstBoundaryAtMinusOneThenPositiveGaps) {
  struct Case {
    const char* label;
    std::size_t n_cats;
    std::vector<double> thresholds;
    std::vector<double> expected;
  };
  const std::vector<Case> cases = {
      {"three categories", 3, {0.0}, {-infinity, -1.0, 0.0, infinity}},
      {"four categories", 4, {std::log(2.0), std::log(3.0)}, {-infinity, -1.0, 1.0, 4.0, infinity}},
      {"tiny gap still increases", 3, {-30.0}, {-infinity, -1.0, -1.0 + std::exp(-30.0), infinity}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Vector cuts = ocat_cut_points(c.n_cats, c.thresholds);
    ASSERT_EQ(cuts.size(), static_cast<Eigen::Index>(c.expected.size()));
    for (Eigen::Index k = 0; k < cuts.size(); ++k) {
      EXPECT_DOUBLE_EQ(cuts[k], c.expected[static_cast<std::size_t>(k)]);
    }
  }
}

TEST(OcatCategory, RoundsHalvesAwayAndClamps) {
  struct Case {
    double y;
    std::size_t expected;
  };
  const std::array cases = {
      Case{2.4, 2},
      Case{2.5, 3},
      Case{1.5, 2},
      Case{0.0, 1},
      Case{-0.5, 1},
      Case{0.5, 1},
      Case{8.0, 3},
      Case{1e300, 3},
      Case{-infinity, 1},
      Case{3.0, 3},
      Case{std::numeric_limits<double>::quiet_NaN(), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.y);
    EXPECT_EQ(ocat_category(c.y, 3), c.expected);
  }
}

TEST(OcatDeviance, ReferenceValuesAndTheFloor) {
  const Vector cuts = ocat_cut_points(3, {0.0});
  // P = F(−1) = 1/(1 + e): deviance −2 log P = 2 log(1 + e) = 2.6265233750364456.
  EXPECT_NEAR(ocat_deviance(single(1.0), single(0.0), {}, cuts), 2.6265233750364456, 1e-14);
  const std::vector<double> weight{3.0};
  EXPECT_NEAR(ocat_deviance(single(1.0), single(0.0), weight, cuts), 3.0 * 2.6265233750364456,
              1e-13);
  // η = −1000 in the top category: P underflows and is floored at the smallest normal.
  const double floored = ocat_deviance(single(3.0), single(-1000.0), {}, cuts);
  EXPECT_TRUE(std::isfinite(floored));
  EXPECT_NEAR(floored, -2.0 * std::log(2.2250738585072014e-308), 1e-10);
}

/// F(b) − F(a) in long double, from the tail that is small on the side where a and b lie.
long double reference_probability(long double a, long double b) {
  const auto logistic = [](long double t) { return 1.0L / (1.0L + std::exp(-t)); };
  if (a > 0.0L) {
    return logistic(-a) - logistic(-b);
  }
  if (b < 0.0L) {
    return logistic(b) - logistic(a);
  }
  return 1.0L - logistic(a) - logistic(-b);
}

TEST(OcatProbability, KeepsRelativePrecisionInEveryCase) {
  const Vector cuts = ocat_cut_points(4, {0.0, 0.5});  // −1, 0, e^{0.5}
  struct Case {
    const char* label;
    double y;
    double eta;
  };
  const std::array cases = {
      Case{"bottom category, η far above", 1.0, 40.0},
      Case{"middle category, η far above", 2.0, 35.0},
      Case{"middle category, η far below", 3.0, -38.0},
      Case{"middle category straddling zero", 2.0, -0.4},
      Case{"top category, η far below", 4.0, -40.0},
      Case{"top category, η above", 4.0, 3.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::size_t k = ocat_category(c.y, 4);
    const auto lower = static_cast<long double>(cuts[static_cast<Eigen::Index>(k) - 1]) - c.eta;
    const auto upper = static_cast<long double>(cuts[static_cast<Eigen::Index>(k)]) - c.eta;
    const auto expected = static_cast<double>(reference_probability(lower, upper));
    EXPECT_NEAR(ocat_probability(c.y, c.eta, cuts), expected, 1e-14 * expected);
  }
}

TEST(OcatEtaDerivatives, MatchCentralDifferencesOfTheDeviance) {
  const Vector cuts = ocat_cut_points(4, {std::log(2.0), std::log(3.0)});
  Vector y(6);
  y << 1.0, 2.0, 3.0, 4.0, 2.0, 4.0;
  Vector eta(6);
  eta << -3.0, 0.2, 2.5, 1.0, 6.0, -2.0;
  Vector g;
  Vector h;
  ocat_eta_derivatives(y, eta, cuts, g, h);
  // Step 1e-4: truncation ~1e-8·d‴, rounding ~1e-16/1e-4 on values of order 1–10.
  constexpr double step = 1e-4;
  const auto unit = [&](Eigen::Index i, double eta_i) {
    return ocat_deviance(single(y[i]), single(eta_i), {}, cuts);
  };
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    SCOPED_TRACE(i);
    const double first = (unit(i, eta[i] + step) - unit(i, eta[i] - step)) / (2.0 * step);
    const double second =
        (unit(i, eta[i] + step) - 2.0 * unit(i, eta[i]) + unit(i, eta[i] - step)) / (step * step);
    EXPECT_NEAR(g[i], first, 1e-7 * std::max(1.0, std::abs(first)));
    EXPECT_NEAR(h[i], second, 1e-5 * std::max(1.0, std::abs(second)));
  }
}

}  // namespace
}  // namespace krelm
