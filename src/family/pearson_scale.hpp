// The Pearson scale estimate of the quasi, Gamma and inverse-Gaussian families, taken
// after the final fit.
#pragma once

#include <span>

#include "../matrix.hpp"
#include "family.hpp"

namespace krelm {

/// φ̂ = Σ_i w_i·r_i²/v_i / (n − edf_total) with the family's guarded residual and variance
/// (Gamma, InverseGaussian, QuasiPoisson, QuasiBinomial). NaN when n − edf_total is not > 0.
/// `prior_weights` empty means all ones. Any other family is an internal fault.
[[nodiscard]] double pearson_scale(FamilyKind kind, const Vector& y, const Vector& mu,
                                   std::span<const double> prior_weights, double edf_total);

}  // namespace krelm
