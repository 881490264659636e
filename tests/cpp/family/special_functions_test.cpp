// log Γ, ψ and ψ′ against values from SciPy's gammaln, digamma and polygamma(1, ·).
#include "family/special_functions.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace krelm {
namespace {

struct SpecialCase {
  const char* label;
  double x;
  double expected;
  double tolerance;
};

TEST(SpecialFunctions, LnGammaMatchesReferenceValues) {
  // Lanczos g = 7 is good to a few units in 1e-15 relative; the reflection loses a little.
  const std::array cases = {
      SpecialCase{"Γ(1) = 1", 1.0, 0.0, 1e-14},
      SpecialCase{"Γ(2) = 1", 2.0, 0.0, 1e-14},
      SpecialCase{"Γ(1/2) = √π", 0.5, 0.5723649429247001, 1e-14},
      SpecialCase{"log 9!", 10.0, 12.801827480081469, 1e-13},
      SpecialCase{"reflection near the pole", 0.001, 6.907178885383853, 1e-13},
      SpecialCase{"non-integer", 3.7, 1.428072326665388, 1e-13},
      SpecialCase{"large argument", 150.3, 601.5119608335364, 1e-11},
      SpecialCase{"negative argument with positive Γ", -1.5, 0.8600470153764810, 1e-13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(ln_gamma(c.x), c.expected, c.tolerance);
  }
}

TEST(SpecialFunctions, LnGammaIsNanWhereGammaIsNegative) {
  // Γ(−2.5) < 0, so its logarithm does not exist; the reflection reports NaN.
  EXPECT_TRUE(std::isnan(ln_gamma(-2.5)));
}

// The asymptotic series of ψ and ψ′ stops at e⁸ and e⁹ after a shift to x ≥ 6, so the
// first omitted terms, 1/(132·6¹⁰) ≈ 1.3e-10 and 5/(66·6¹¹) ≈ 2.1e-10, bound their error.
TEST(SpecialFunctions, DigammaMatchesReferenceValues) {
  const std::array cases = {
      SpecialCase{"−Euler γ", 1.0, -0.5772156649015329, 2e-10},
      SpecialCase{"six shifts below the series", 0.001, -1000.5755719318103, 2e-10},
      SpecialCase{"half", 0.5, -1.9635100260214235, 2e-10},
      SpecialCase{"inside the shift range", 3.7, 1.1671535393615113, 2e-10},
      SpecialCase{"series only", 25.0, 3.198742512851974, 1e-13},
      SpecialCase{"large", 1000.0, 6.907255195648812, 1e-13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(digamma(c.x), c.expected, c.tolerance);
  }
}

TEST(SpecialFunctions, TrigammaMatchesReferenceValues) {
  const std::array cases = {
      SpecialCase{"π²/6", 1.0, 1.6449340668482264, 3e-10},
      SpecialCase{"dominated by 1/x²", 0.001, 1000001.6425331959, 1e-9},
      SpecialCase{"π²/2", 0.5, 4.934802200544679, 3e-10},
      SpecialCase{"inside the shift range", 3.7, 0.31003785767003833, 3e-10},
      SpecialCase{"series only", 25.0, 0.04081066325722558, 1e-15},
      SpecialCase{"large", 1000.0, 0.001000500166666633, 1e-16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(trigamma(c.x), c.expected, c.tolerance);
  }
}

TEST(SpecialFunctions, DerivativesAgreeWithDifferencesOfLnGamma) {
  // Central differences with step h err by h²/6 times the third derivative: at x = 0.3
  // about 1e-9 for ψ and 1e-8 for ψ′; the series truncation above adds ~1e-10.
  constexpr double h = 1e-5;
  for (const double x : {0.3, 1.7, 6.5, 40.0}) {
    SCOPED_TRACE(x);
    EXPECT_NEAR(digamma(x), (ln_gamma(x + h) - ln_gamma(x - h)) / (2.0 * h), 3e-9);
    EXPECT_NEAR(trigamma(x), (digamma(x + h) - digamma(x - h)) / (2.0 * h), 3e-8);
  }
}

}  // namespace
}  // namespace krelm
