// ELF loss pieces. The logistic and the softplus are evaluated in two branches so that
// neither overflows for any scaled residual u.
#include "elf.hpp"

#include <cmath>
#include <limits>

#include "guards.hpp"
#include "special_functions.hpp"

namespace krelm {
namespace {

/// σ and λ of the saturated term are floored here so that its logs stay finite.
constexpr double elf_constant_floor = 1e-12;

double logistic(double u) {
  if (u >= 0.0) {
    return 1.0 / (1.0 + std::exp(-u));
  }
  const double e = std::exp(u);
  return e / (1.0 + e);
}

/// sp(u) = log(1 + e^u)
double softplus(double u) {
  if (u > 0.0) {
    return std::log1p(std::exp(-u)) + u;
  }
  return std::log1p(std::exp(u));
}

}  // namespace

double elf_unit_deviance(double y, double eta, const ElfConstants& elf) {
  const double residual = y - eta;
  const double u = residual / elf.lambda;
  const double tau = elf.tau;
  return (2.0 / elf.sigma) *
         (elf.lambda * softplus(u) - (1.0 - tau) * residual +
          elf.lambda * (tau * std::log(tau) + (1.0 - tau) * std::log(1.0 - tau)));
}

ElfNewtonTerm elf_newton_term(double y, double eta, const ElfConstants& elf) {
  const double s = logistic((y - eta) / elf.lambda);
  const double gradient = (elf.tau - 1.0 + s) / elf.sigma;
  const double weight = s * (1.0 - s) / (elf.sigma * elf.lambda);
  const double response = weight > elf_weight_floor ? eta + gradient / weight : eta;
  return {gradient, weight, response};
}

void elf_newton_terms(const Vector& y, const Vector& eta, const ElfConstants& elf,
                      Vector& gradient_out, Vector& weights_out, Vector& response_out) {
  const Eigen::Index n = y.size();
  gradient_out.resize(n);
  weights_out.resize(n);
  response_out.resize(n);
  for (Eigen::Index i = 0; i < n; ++i) {
    const ElfNewtonTerm term = elf_newton_term(y[i], eta[i], elf);
    gradient_out[i] = term.gradient;
    weights_out[i] = term.weight;
    response_out[i] = term.response;
  }
}

double elf_deviance_sum(const Vector& y, const Vector& eta, double tau, double sigma,
                        double lambda) {
  const ElfConstants elf{tau, sigma, lambda};
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    const double unit = elf_unit_deviance(y[i], eta[i], elf);
    if (!std::isfinite(unit)) {
      return std::numeric_limits<double>::infinity();
    }
    total += unit;
  }
  return total;
}

double elf_saturated_loglik_per_obs(double tau, double sigma, double lambda) {
  const double sigma_floored = floor_at(sigma, elf_constant_floor);
  const double lambda_floored = floor_at(lambda, elf_constant_floor);
  const double a = lambda_floored * tau / sigma_floored;
  const double b = lambda_floored * (1.0 - tau) / sigma_floored;
  return a * std::log(tau) + b * std::log(1.0 - tau) - std::log(lambda_floored) -
         (ln_gamma(a) + ln_gamma(b) - ln_gamma(a + b));
}

}  // namespace krelm
