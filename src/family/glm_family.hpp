// The pieces PIRLS needs from a family, over whole vectors: starting values, inverse
// link, working weights and response, deviance and the finiteness test of step halving.
// Serves Poisson, QuasiPoisson, Bernoulli, QuasiBinomial, Gamma, InverseGaussian,
// NegBin (θ), Tweedie (p) and TDist (ν, σ²); Gaussian uses the closed form instead.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "../error.hpp"
#include "../matrix.hpp"
#include "family.hpp"

namespace krelm {

/// Means, variances and logarithm arguments are floored here.
constexpr double mean_floor = 1e-300;
/// Probabilities are held in [probability_floor, probability_ceiling].
constexpr double probability_floor = 1e-15;
constexpr double probability_ceiling = 0.999999999999999;

/// A family fitted by PIRLS, with the parameters that PIRLS holds fixed.
struct PirlsFamily {
  FamilyKind kind = FamilyKind::Poisson;
  double theta = 1.0;   ///< NegBin
  double power = 1.5;   ///< Tweedie
  double nu = 5.0;      ///< TDist
  double sigma2 = 1.0;  ///< TDist
};

/// η₀ from y through the family's starting mean and link (guards included).
void starting_eta(const PirlsFamily& family, const Vector& y, Vector& eta_out);

/// μ = g⁻¹(η), element by element.
void inverse_link(const PirlsFamily& family, const Vector& eta, Vector& mu_out);

/// W_i = w_i/(V_i·g′_i²) and z_i = η_i + g′_i·(y_i − μ_i) with the family's guards.
/// `prior_weights` empty means all ones.
void working_weights_and_response(const PirlsFamily& family, const Vector& y, const Vector& eta,
                                  const Vector& mu, std::span<const double> prior_weights,
                                  Vector& weights_out, Vector& response_out);

/// Unit deviance d(y, μ) with the family's guards.
[[nodiscard]] double unit_deviance(const PirlsFamily& family, double y, double mu);

/// D = Σ w_i·d(y_i, μ_i); `prior_weights` empty means all ones.
[[nodiscard]] double deviance(const PirlsFamily& family, const Vector& y, const Vector& mu,
                              std::span<const double> prior_weights);

struct CheckedDeviance {
  double deviance = 0.0;     ///< Σ w_i·d(y_i, μ_i), summed in row order
  bool terms_finite = true;  ///< every η_i, μ_i and 2·d(y_i, μ_i) finite
};

/// deviance() and deviance_terms_finite() in one pass over the rows (one unit deviance
/// evaluation per row), with the same results as the two calls.
[[nodiscard]] CheckedDeviance checked_deviance(const PirlsFamily& family, const Vector& y,
                                               const Vector& eta, const Vector& mu,
                                               std::span<const double> prior_weights);

/// True when every η_i, μ_i and 2·d(y_i, μ_i) is finite (the step-halving predicate).
[[nodiscard]] bool deviance_terms_finite(const PirlsFamily& family, const Vector& y,
                                         const Vector& eta, const Vector& mu);

/// The response-domain check of the seven exponential families (and NegBin/Tweedie y ≥ 0):
/// InvalidParameter "{family} requires y ≥ 0; got y={y} at row {row}" and the like.
[[nodiscard]] Expected<void> validate_response(FamilyKind kind, const VectorRef& y);

}  // namespace krelm
