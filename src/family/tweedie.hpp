// Tweedie (1 < p < 2) pieces beyond PIRLS: decoding the shape components, the saturated
// log density through the Dunn–Smyth series, and the analytic gradient of the shape score
// in (log φ, θ_p) at frozen coefficients. The PIRLS pieces live in glm_family.
#pragma once

#include <array>

#include "../matrix.hpp"

namespace krelm {

/// The decoded dispersion is never below this.
constexpr double tweedie_phi_floor = 1e-6;
/// The decoded power is clamped into [tweedie_power_min, tweedie_power_max].
constexpr double tweedie_power_min = 1.05;
constexpr double tweedie_power_max = 1.95;

struct TweedieParams {
  double phi;    ///< max(exp(z1), 1e-6)
  double power;  ///< clamp(1 + 1/(1 + exp(−z2)), 1.05, 1.95)
};

/// Decodes (log φ, θ_p) of the shape vector.
[[nodiscard]] TweedieParams tweedie_params_from(double log_phi, double power_logit);

/// dp/dθ_p = (p − 1)(2 − p), the chain factor of the power component.
[[nodiscard]] double tweedie_power_chain_factor(double power);

/// log W(y) of the Dunn–Smyth series, summed within 104·ln 2 of its largest term (the
/// upward walk stops at the latest at j₀ + 1001). Needs y > 0 and 1 < p < 2.
[[nodiscard]] double tweedie_log_series(double power, double phi, double y);

/// Log density at μ = y: 0 for y ≤ 0; T − log y (+ log W(y) when 1 < p < 2), with
/// T = y^{2−p}/((1 − p)(2 − p)·max(φ, 1e-12)).
[[nodiscard]] double tweedie_log_density_saturated(double power, double phi, double y);

/// ∂log W/∂log φ (q) and ∂log W/∂p (r) of one observation y > 0, summed with the walk of
/// the shape gradient.
struct TweedieSeriesDerivatives {
  double d_log_phi;
  double d_power;
};
[[nodiscard]] TweedieSeriesDerivatives tweedie_series_derivatives(double power, double phi,
                                                                  double y);

/// Gradient of the shape score with respect to (log φ, θ_p) at frozen β and μ.
/// `phi` is the decoded φ, `penalised_deviance` D + λβᵀSβ, `m` = n − M_p as a float.
[[nodiscard]] std::array<double, 2> tweedie_shape_gradient(const Vector& y, const Vector& mu,
                                                           double p, double phi,
                                                           double penalised_deviance, double m);

}  // namespace krelm
