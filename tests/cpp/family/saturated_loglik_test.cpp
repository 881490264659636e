// Saturated log-likelihoods of the score against log densities at μ = y evaluated by
// SciPy, and the Newton solve for the Gamma scale.
#include "family/saturated_loglik.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "family/special_functions.hpp"

namespace krelm {
namespace {

constexpr double pi = 3.141592653589793;

Vector vector_of(std::initializer_list<double> values) {
  Vector v(static_cast<Eigen::Index>(values.size()));
  Eigen::Index i = 0;
  for (const double value : values) {
    v[i++] = value;
  }
  return v;
}

TEST(SaturatedLoglik, ExponentialFamilies) {
  struct Case {
    const char* label;
    FamilyKind kind;
    Vector y;
    double phi;
    double expected;
  };
  const std::array cases = {
      Case{"Poisson zeros give 0", FamilyKind::Poisson, vector_of({0.0, 0.0}), 1.0, 0.0},
      Case{"Poisson y ln y − y", FamilyKind::Poisson, vector_of({0.0, 1.0, 3.0}), 1.0,
           -1.0 + 3.0 * std::log(3.0) - 3.0},
      Case{"Bernoulli 0/1 give 0", FamilyKind::Bernoulli, vector_of({0.0, 1.0, 1.0, 0.0}), 1.0,
           0.0},
      Case{"Bernoulli proportion entropy", FamilyKind::Bernoulli, vector_of({0.25, 1.0}), 1.0,
           0.25 * std::log(0.25) + 0.75 * std::log(0.75)},
      Case{"Gaussian −(n/2)ln(2πφ)", FamilyKind::Gaussian, vector_of({5.0, -1.0, 0.0, 2.0}), 2.0,
           -2.0 * std::log(4.0 * pi)},
      Case{"QuasiBinomial like Gaussian", FamilyKind::QuasiBinomial, vector_of({0.1, 0.2}), 0.5,
           -std::log(pi)},
      // scipy.stats.gamma.logpdf(y, a=1/φ, scale=y·φ).sum()
      Case{"Gamma log density at μ = y", FamilyKind::Gamma, vector_of({0.5, 2.0, 3.3}), 0.7,
           -3.58817372969444},
      // scipy.stats.invgauss.logpdf(y, mu=φ·y, scale=1/φ).sum()
      Case{"inverse Gaussian log density at μ = y", FamilyKind::InverseGaussian,
           vector_of({0.5, 2.0, 3.3}), 0.7, -4.012686886414571},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(saturated_loglik(c.kind, c.y, c.phi), c.expected, 1e-13);
  }
}

TEST(SaturatedLoglik, NegBinMatchesLogPmfPlusLogFactorial) {
  // scipy: (nbinom.logpmf(y, n=θ, p=θ/(θ+y)) + gammaln(y + 1)).sum() at θ = 2.5
  EXPECT_NEAR(negbin_saturated_loglik(vector_of({0.0, 1.0, 4.0, 17.0}), 2.5), 29.97809172403465,
              1e-12);
  for (const double theta : {0.01, 1.0, 2.0, 1e6}) {
    SCOPED_TRACE(theta);
    EXPECT_EQ(negbin_saturated_loglik(vector_of({0.0, 0.0}), theta), 0.0);
  }
}

TEST(SaturatedLoglik, TDistDecodingAndTerm) {
  const TDistParams start = tdist_params_from(0.0, 0.0);
  EXPECT_DOUBLE_EQ(start.sigma2, 1.0);
  EXPECT_DOUBLE_EQ(start.nu, 3.0);
  EXPECT_DOUBLE_EQ(tdist_params_from(std::log(4.0), std::log(0.5)).nu, 2.5);
  EXPECT_DOUBLE_EQ(tdist_params_from(std::log(4.0), std::log(0.5)).sigma2, 4.0);
  EXPECT_NEAR(tdist_saturated_loglik(5, 3.0, 2.0), -2.5 * std::log(6.0 * pi), 1e-14);
}

double gamma_stationarity(double phi, double penalised_deviance, double null_space_dim, double n) {
  return null_space_dim * phi + 2.0 * n * (std::log(phi) + digamma(1.0 / phi)) + penalised_deviance;
}

TEST(GammaScaleNewton, SolvesTheStationarityCondition) {
  const double dp = 12.3;
  const double n = 20.0;
  const double mp = 2.0;
  const double phi = gamma_scale_newton(dp / (n - mp), dp, mp, n);
  EXPECT_LT(std::abs(gamma_stationarity(phi, dp, mp, n)), 1e-10 * (dp + mp + 1.0));
  // Started from the other side of the root it finds the same scale.
  EXPECT_NEAR(gamma_scale_newton(5.0, dp, mp, n), phi, 1e-10 * phi);
}

TEST(GammaScaleNewton, StepsAreDampedAndCapped) {
  // The root lies near 1e40/18; every step wants to go further than ten times φ, so after
  // the 30 permitted steps φ is 10³⁰.
  EXPECT_NEAR(gamma_scale_newton(1.0, 1e40, 2.0, 10.0), 1e30, 1e30 * 1e-13);
}

TEST(GammaScaleNewton, NeverReturnsBelowTheFloor) {
  EXPECT_EQ(gamma_scale_newton(1e-8, 1e-12, 0.0, 10.0), 1e-8);
}

}  // namespace
}  // namespace krelm
