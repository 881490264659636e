// Extended log-F family for quantile regression: the smoothed pinball loss as a unit
// deviance, its Newton pieces in η, and the saturated log-likelihood of the Laplace score.
#pragma once

#include "../matrix.hpp"

namespace krelm {

/// Below this Newton weight the working response falls back to η.
constexpr double elf_weight_floor = 1e-12;

/// The family constants: quantile level τ, loss scale σ and bandwidth λ.
struct ElfConstants {
  double tau;
  double sigma;
  double lambda;
};

/// d(y, η) = (2/σ)·[λ·sp(u) − (1 − τ)·r + λ·(τ log τ + (1 − τ) log(1 − τ))], r = y − η,
/// u = r/λ; its minimum over r is exactly 0.
[[nodiscard]] double elf_unit_deviance(double y, double eta, const ElfConstants& elf);

/// Newton pieces of one observation at (y, η).
struct ElfNewtonTerm {
  double gradient;  ///< g = (τ − 1 + s)/σ = −∂(d/2)/∂η
  double weight;    ///< W = s(1 − s)/(σλ) = ∂²(d/2)/∂η²
  double response;  ///< z = η + g/W when W > 1e-12, else η
};
[[nodiscard]] ElfNewtonTerm elf_newton_term(double y, double eta, const ElfConstants& elf);

/// The Newton pieces over whole vectors (outputs resized to y's length).
void elf_newton_terms(const Vector& y, const Vector& eta, const ElfConstants& elf,
                      Vector& gradient_out, Vector& weights_out, Vector& response_out);

/// Σ_i d(y_i, η_i) without prior weights; +∞ as soon as one d_i is not finite.
[[nodiscard]] double elf_deviance_sum(const Vector& y, const Vector& eta, double tau, double sigma,
                                      double lambda);

/// ℓ_E = a ln τ + b ln(1 − τ) − ln λ̃ − (lnΓ(a) + lnΓ(b) − lnΓ(a + b)) with
/// a = λ̃τ/σ̃, b = λ̃(1 − τ)/σ̃, σ̃ and λ̃ floored at 1e-12; ls = n·ℓ_E.
[[nodiscard]] double elf_saturated_loglik_per_obs(double tau, double sigma, double lambda);

}  // namespace krelm
