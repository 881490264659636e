// Extended log-F loss: zero minimum, pinball limits, saturation at large |u|, Newton
// pieces against differences of the loss, and the saturated term.
#include "family/elf.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace krelm {
namespace {

TEST(ElfDeviance, ZeroMinimumAndPinballLimits) {
  struct Case {
    const char* label;
    ElfConstants elf;
    double residual;
    double expected;
    double tolerance;
  };
  const double optimum = 0.7 * std::log(0.8 / 0.2);  // λ·log((1 − τ)/τ)
  const std::array cases = {
      Case{"median at r = 0", {0.5, 1.0, 1.0}, 0.0, 0.0, 1e-15},
      Case{"minimum is exactly zero", {0.2, 1.3, 0.7}, optimum, 0.0, 1e-15},
      // λ·(τ log τ + (1 − τ) log(1 − τ)) ≈ −7e-4 separates the smooth loss from the pinball.
      Case{"pinball slope τ above", {0.5, 2.0, 0.001}, 3.0, 1.5, 1e-3},
      Case{"pinball slope 1 − τ below", {0.5, 2.0, 0.001}, -3.0, 1.5, 1e-3},
      Case{"asymmetric pinball", {0.9, 1.0, 1e-4}, -2.0, 2.0 * 0.1 * 2.0, 1e-3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(elf_unit_deviance(1.0 + c.residual, 1.0, c.elf), c.expected, c.tolerance);
  }
  const ElfConstants elf{0.2, 1.3, 0.7};
  EXPECT_GT(elf_unit_deviance(optimum + 0.1, 0.0, elf), 0.0);
  EXPECT_GT(elf_unit_deviance(optimum - 0.1, 0.0, elf), 0.0);
}

TEST(ElfNewtonTerm, SaturatesAtLargeScaledResiduals) {
  const ElfConstants elf{0.3, 1.0, 0.5};
  for (const double u : {800.0, -800.0}) {
    SCOPED_TRACE(u);
    const double eta = 2.0;
    const double y = eta + u * elf.lambda;
    const ElfNewtonTerm term = elf_newton_term(y, eta, elf);
    EXPECT_EQ(term.weight, 0.0);
    EXPECT_EQ(term.response, eta);
    EXPECT_TRUE(std::isfinite(term.gradient));
    EXPECT_TRUE(std::isfinite(elf_unit_deviance(y, eta, elf)));
  }
}

TEST(ElfNewtonTerm, GradientAndWeightAreDerivativesOfHalfTheLoss) {
  constexpr double h = 1e-5;
  const ElfConstants elf{0.25, 0.8, 0.6};
  for (const double residual : {-2.0, -0.1, 0.0, 0.4, 1.7}) {
    SCOPED_TRACE(residual);
    const double y = 0.5 + residual;
    const double eta = 0.5;
    const auto half_loss = [&](double e) { return 0.5 * elf_unit_deviance(y, e, elf); };
    const ElfNewtonTerm term = elf_newton_term(y, eta, elf);
    const double slope = (half_loss(eta + h) - half_loss(eta - h)) / (2.0 * h);
    const double curvature =
        (half_loss(eta + h) - 2.0 * half_loss(eta) + half_loss(eta - h)) / (h * h);
    EXPECT_NEAR(term.gradient, -slope, 1e-8);
    EXPECT_NEAR(term.weight, curvature, 1e-4);
    EXPECT_NEAR(term.response, eta + term.gradient / term.weight, 1e-12);
  }
}

TEST(ElfDevianceSum, SumsOrTurnsInfinite) {
  Vector y(3);
  y << 0.0, 1.0, -2.0;
  Vector eta(3);
  eta << 0.5, 0.5, 0.5;
  const ElfConstants elf{0.4, 1.5, 0.3};
  double expected = 0.0;
  for (Eigen::Index i = 0; i < 3; ++i) {
    expected += elf_unit_deviance(y[i], eta[i], elf);
  }
  EXPECT_DOUBLE_EQ(elf_deviance_sum(y, eta, 0.4, 1.5, 0.3), expected);
  y[1] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(elf_deviance_sum(y, eta, 0.4, 1.5, 0.3), std::numeric_limits<double>::infinity());
}

TEST(ElfSaturatedLoglik, ReferenceValueAndFloors) {
  // a = λτ/σ, b = λ(1 − τ)/σ; value from SciPy's gammaln with τ = 0.3, σ = 0.8, λ = 0.5.
  EXPECT_NEAR(elf_saturated_loglik_per_obs(0.3, 0.8, 0.5), -1.6256044992995198, 1e-13);
  EXPECT_DOUBLE_EQ(elf_saturated_loglik_per_obs(0.3, 0.0, 0.5),
                   elf_saturated_loglik_per_obs(0.3, 1e-12, 0.5));
  EXPECT_DOUBLE_EQ(elf_saturated_loglik_per_obs(0.3, 0.8, -1.0),
                   elf_saturated_loglik_per_obs(0.3, 0.8, 1e-12));
}

}  // namespace
}  // namespace krelm
