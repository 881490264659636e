// ls(φ) of the exponential families and the Gamma scale by Newton's method.
#include "saturated_loglik.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "../internal_fault.hpp"
#include "glm_family.hpp"
#include "guards.hpp"
#include "special_functions.hpp"

namespace krelm {
namespace {

constexpr double two_pi = 2.0 * 3.141592653589793;

double poisson_saturated(const Vector& y) {
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    if (y[i] > 0.0) {
      total += y[i] * std::log(y[i]) - y[i];
    }
  }
  return total;
}

/// Exact 0/1 responses contribute 0; proportions strictly inside contribute their entropy.
double bernoulli_saturated(const Vector& y) {
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    if (y[i] > 0.0 && y[i] < 1.0) {
      const double p = ceiling_at(floor_at(y[i], probability_floor), 1.0 - probability_floor);
      total += p * std::log(p) + (1.0 - p) * std::log(1.0 - p);
    }
  }
  return total;
}

double inverse_gaussian_saturated(const Vector& y, double phi) {
  const double normal_term = -0.5 * std::log(two_pi * phi);
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    total += normal_term - 1.5 * std::log(floor_at(y[i], mean_floor));
  }
  return total;
}

double gamma_saturated(const Vector& y, double phi) {
  const double shape_term = -ln_gamma(1.0 / phi) - std::log(phi) / phi - 1.0 / phi;
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    total += shape_term - std::log(floor_at(y[i], mean_floor));
  }
  return total;
}

}  // namespace

double saturated_loglik(FamilyKind kind, const Vector& y, double phi) {
  switch (kind) {
    case FamilyKind::Poisson:
      return poisson_saturated(y);
    case FamilyKind::Bernoulli:
      return bernoulli_saturated(y);
    case FamilyKind::Gaussian:
    case FamilyKind::QuasiPoisson:
    case FamilyKind::QuasiBinomial:
      return -(static_cast<double>(y.size()) / 2.0) * std::log(two_pi * phi);
    case FamilyKind::InverseGaussian:
      return inverse_gaussian_saturated(y, phi);
    case FamilyKind::Gamma:
      return gamma_saturated(y, phi);
    default:
      break;
  }
  internal_fault("saturated_loglik called for family " + std::string(display_name(kind)));
}

double gamma_scale_newton(double phi0, double penalised_deviance, double null_space_dim, double n) {
  constexpr int max_steps = 30;
  constexpr double scale_floor = 1e-8;
  constexpr double flat_derivative = 1e-15;
  constexpr double relative_step_tolerance = 1e-12;
  // f = 0 is ∂V/∂φ = 0 for the Gamma Laplace score.
  const auto stationarity = [&](double phi) {
    return null_space_dim * phi + 2.0 * n * (std::log(phi) + digamma(1.0 / phi)) +
           penalised_deviance;
  };
  const double tolerance = 1e-10 * (std::abs(penalised_deviance) + null_space_dim + 1.0);
  double phi = phi0;
  for (int step = 0; step < max_steps; ++step) {
    const double f = stationarity(phi);
    if (std::abs(f) < tolerance) {
      break;
    }
    const double f_prime = null_space_dim + (2.0 * n / phi) * (1.0 - trigamma(1.0 / phi) / phi);
    if (std::abs(f_prime) < flat_derivative) {
      break;
    }
    double next = phi - f / f_prime;
    // Damping: at most a factor 10 either way; a NaN step falls to the lower end.
    next = std::isnan(next) ? 0.1 * phi : clamp_keeping_nan(next, 0.1 * phi, 10.0 * phi);
    next = floor_at(next, scale_floor);
    if (next == std::numeric_limits<double>::infinity()) {
      break;
    }
    const double previous = phi;
    phi = next;
    if (std::abs(phi - previous) < relative_step_tolerance * previous) {
      break;
    }
  }
  return floor_at(phi, scale_floor);
}

}  // namespace krelm
