// Negative binomial pieces beyond PIRLS: the saturated log-likelihood that the shape score
// needs as a function of θ. The PIRLS pieces live with the other families (glm_family).
#pragma once

#include "../matrix.hpp"

namespace krelm {

/// ls(θ) = Σ_i [lnΓ(y_i + θ) − lnΓ(θ) + θ·ln(θ/(θ + y_i)) + (y_i > 0 ? y_i·ln(y_i/(θ + y_i)) : 0)]:
/// the log-likelihood at μ = y without the lnΓ(y + 1) term, unweighted. Zero at y = 0.
[[nodiscard]] double negbin_saturated_loglik(const Vector& y, double theta);

}  // namespace krelm
