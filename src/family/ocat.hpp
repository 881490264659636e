// Ordered categorical family: cut points from the log-gap thresholds, the category of a
// response, its probability under the latent logistic model, and the deviance with its
// first two η-derivatives for the Newton solver.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "../matrix.hpp"

namespace krelm {

/// Category probabilities are floored here (the smallest normal double), so −2·log P is
/// finite for every observation.
constexpr double ocat_probability_floor = 2.2250738585072014e-308;

/// c = (−∞, −1, −1 + e^{θ_1}, …, +∞), length R + 1, strictly increasing.
/// R < 3 or thresholds.size() ≠ R − 2 is an internal fault.
[[nodiscard]] Vector ocat_cut_points(std::size_t n_cats, const std::vector<double>& thresholds);

/// y to the nearest integer (halves away from zero), NaN → 1, held in 1..n_cats.
[[nodiscard]] std::size_t ocat_category(double y, std::size_t n_cats);

/// P⁺ = max(F(c_k − η) − F(c_{k−1} − η), 2.2250738585072014e-308), k the category of y,
/// evaluated without cancellation.
[[nodiscard]] double ocat_probability(double y, double eta, const Vector& cut_points);

/// D = Σ_i w_i·(−2·log P⁺_i); `prior_weights` empty means all ones.
[[nodiscard]] double ocat_deviance(const Vector& y, const Vector& eta,
                                   std::span<const double> prior_weights, const Vector& cut_points);

/// g_i = ∂(−2 log P_i)/∂η_i and h_i = ∂²(−2 log P_i)/∂η_i², without prior weights.
void ocat_eta_derivatives(const Vector& y, const Vector& eta, const Vector& cut_points,
                          Vector& g_out, Vector& h_out);

}  // namespace krelm
