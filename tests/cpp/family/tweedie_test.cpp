// Tweedie decoding, the saturated density against a brute-force compound Poisson–gamma
// sum, and the analytic shape gradient against central differences of the score pieces.
#include "family/tweedie.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "family/glm_family.hpp"

namespace krelm {
namespace {

TEST(TweedieParams, DecodesWithFloorAndClamp) {
  struct Case {
    const char* label;
    double log_phi;
    double power_logit;
    double phi;
    double power;
  };
  const std::array cases = {
      Case{"origin", 0.0, 0.0, 1.0, 1.5},
      Case{"power clamped above", 0.0, 50.0, 1.0, 1.95},
      Case{"power clamped below", 0.0, -50.0, 1.0, 1.05},
      Case{"dispersion floored", std::log(1e-7), 0.0, 1e-6, 1.5},
      Case{"inside the clamp", std::log(2.5), std::log(0.25), 2.5, 1.2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const TweedieParams params = tweedie_params_from(c.log_phi, c.power_logit);
    EXPECT_DOUBLE_EQ(params.phi, c.phi);
    EXPECT_DOUBLE_EQ(params.power, c.power);
  }
  EXPECT_DOUBLE_EQ(tweedie_power_chain_factor(1.5), 0.25);
}

/// log f(y; μ = y, φ, p) of the compound Poisson–gamma law, summed term by term in long
/// double: N ~ Poisson(λ), y | N = j ~ Gamma(shape j·a, scale γ), with
/// λ = μ^{2−p}/(φ(2−p)), a = (2−p)/(p−1), γ = φ(p−1)μ^{p−1}.
long double brute_force_log_density(double y, double p, double phi) {
  const long double mu = y;
  const long double lambda = std::pow(mu, 2.0L - p) / (phi * (2.0L - p));
  const long double shape = (2.0L - p) / (p - 1.0L);
  const long double scale = phi * (p - 1.0L) * std::pow(mu, p - 1.0L);
  const auto terms = static_cast<int>(20.0L * lambda) + 400;
  std::vector<long double> log_terms;
  log_terms.reserve(static_cast<std::size_t>(terms));
  for (int j = 1; j <= terms; ++j) {
    const long double jl = j;
    log_terms.push_back(-lambda + jl * std::log(lambda) - std::lgamma(jl + 1.0L) -
                        std::lgamma(jl * shape) - jl * shape * std::log(scale) +
                        (jl * shape - 1.0L) * std::log(static_cast<long double>(y)) - y / scale);
  }
  const long double largest = *std::max_element(log_terms.begin(), log_terms.end());
  long double sum = 0.0L;
  for (const long double term : log_terms) {
    sum += std::exp(term - largest);
  }
  return largest + std::log(sum);
}

TEST(TweedieDensity, MatchesBruteForceCompoundPoissonGamma) {
  struct Case {
    const char* label;
    double y;
    double p;
    double phi;
  };
  const std::array cases = {
      Case{"centre", 1.0, 1.5, 1.0},
      Case{"small y, start index 1", 0.3, 1.2, 0.5},
      Case{"near the gamma end", 5.0, 1.8, 2.0},
      Case{"start index in the hundreds", 50.0, 1.3, 0.1},
      Case{"start index in the thousands", 200.0, 1.1, 0.05},
      Case{"near the Poisson end", 3.0, 1.05, 0.2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto expected = static_cast<double>(brute_force_log_density(c.y, c.p, c.phi));
    EXPECT_NEAR(tweedie_log_density_saturated(c.p, c.phi, c.y), expected,
                1e-8 * std::max(1.0, std::abs(expected)));
  }
}

TEST(TweedieDensity, ZeroResponseAndPowerOutsideTheSeriesRange) {
  EXPECT_EQ(tweedie_log_density_saturated(1.5, 1.0, 0.0), 0.0);
  for (const double p : {0.5, 2.0, 2.5}) {
    SCOPED_TRACE(p);
    const double y = 1.7;
    const double phi = 0.8;
    const double t = std::pow(y, 2.0 - p) / ((1.0 - p) * (2.0 - p) * phi);
    EXPECT_DOUBLE_EQ(tweedie_log_density_saturated(p, phi, y), t - std::log(y));
  }
}

TEST(TweedieSeries, DerivativesMatchCentralDifferences) {
  // Step 1e-5 on values of size ~1e2 with absolute rounding ~1e-12: error ~1e-7.
  constexpr double h = 1e-5;
  struct Case {
    double y;
    double p;
    double phi;
  };
  for (const auto& c :
       {Case{1.0, 1.5, 1.0}, Case{0.3, 1.2, 0.5}, Case{50.0, 1.3, 0.1}, Case{4.0, 1.9, 3.0}}) {
    SCOPED_TRACE(c.y);
    const TweedieSeriesDerivatives derivatives = tweedie_series_derivatives(c.p, c.phi, c.y);
    const double d_log_phi = (tweedie_log_series(c.p, c.phi * std::exp(h), c.y) -
                              tweedie_log_series(c.p, c.phi * std::exp(-h), c.y)) /
                             (2.0 * h);
    const double d_power =
        (tweedie_log_series(c.p + h, c.phi, c.y) - tweedie_log_series(c.p - h, c.phi, c.y)) /
        (2.0 * h);
    EXPECT_NEAR(derivatives.d_log_phi, d_log_phi, 1e-6 * std::max(1.0, std::abs(d_log_phi)));
    EXPECT_NEAR(derivatives.d_power, d_power, 1e-6 * std::max(1.0, std::abs(d_power)));
  }
}

/// The φ- and p-dependent part of the shape score at frozen μ:
/// F = D_p(p)/(2φ) − ((n − m)/2)·ln(2πφ) − Σ ls_i(p, φ), D_p = D(p) + penalty.
double shape_score_part(const Vector& y, const Vector& mu, double log_phi, double power_logit,
                        double penalty, double m) {
  const double phi = std::exp(log_phi);
  const double p = 1.0 + 1.0 / (1.0 + std::exp(-power_logit));
  const PirlsFamily family{.kind = FamilyKind::Tweedie, .power = p};
  const double penalised_deviance = deviance(family, y, mu, {}) + penalty;
  double saturated = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    saturated += tweedie_log_density_saturated(p, phi, y[i]);
  }
  const auto n = static_cast<double>(y.size());
  return penalised_deviance / (2.0 * phi) - 0.5 * (n - m) * std::log(2.0 * std::numbers::pi * phi) -
         saturated;
}

TEST(TweedieShapeGradient, MatchesCentralDifferencesOfTheScore) {
  Vector y(7);
  y << 0.0, 0.4, 1.3, 0.0, 2.7, 8.5, 0.9;
  Vector mu(7);
  mu << 0.3, 0.6, 1.1, 0.2, 3.1, 6.0, 1.4;
  const double penalty = 1.75;
  const double m = 5.0;  // n − M_p with M_p = 2
  constexpr double h = 1e-5;
  struct Case {
    double log_phi;
    double power_logit;
  };
  for (const auto& c : {Case{0.0, 0.0}, Case{std::log(0.3), -1.2}, Case{std::log(2.0), 1.5}}) {
    SCOPED_TRACE(c.power_logit);
    const double phi = std::exp(c.log_phi);
    const double p = 1.0 + 1.0 / (1.0 + std::exp(-c.power_logit));
    const PirlsFamily family{.kind = FamilyKind::Tweedie, .power = p};
    const std::array<double, 2> gradient =
        tweedie_shape_gradient(y, mu, p, phi, deviance(family, y, mu, {}) + penalty, m);
    const double d_log_phi = (shape_score_part(y, mu, c.log_phi + h, c.power_logit, penalty, m) -
                              shape_score_part(y, mu, c.log_phi - h, c.power_logit, penalty, m)) /
                             (2.0 * h);
    const double d_power_logit =
        (shape_score_part(y, mu, c.log_phi, c.power_logit + h, penalty, m) -
         shape_score_part(y, mu, c.log_phi, c.power_logit - h, penalty, m)) /
        (2.0 * h);
    EXPECT_NEAR(gradient[0], d_log_phi, 1e-6 * std::max(1.0, std::abs(d_log_phi)));
    EXPECT_NEAR(gradient[1], d_power_logit, 1e-6 * std::max(1.0, std::abs(d_power_logit)));
  }
}

}  // namespace
}  // namespace krelm
