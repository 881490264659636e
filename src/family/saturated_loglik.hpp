// The saturated log-likelihood ls(φ) of the Laplace score for the exponential families,
// and the Newton solve for the Gamma scale that makes the score stationary in φ.
// The extended families keep theirs beside their other pieces (negbin, tdist, tweedie, elf).
#pragma once

#include "../matrix.hpp"
#include "family.hpp"
#include "negbin.hpp"
#include "tdist.hpp"

namespace krelm {

/// ls(φ) for Poisson, Bernoulli (φ unused), Gaussian, QuasiPoisson, QuasiBinomial,
/// InverseGaussian and Gamma. Prior weights never enter. Other families: internal fault.
[[nodiscard]] double saturated_loglik(FamilyKind kind, const Vector& y, double phi);

/// φ solving M_p·φ + 2n·(ln φ + ψ(1/φ)) + D_p = 0 by at most 30 damped Newton steps from
/// `phi0` (each step kept within a factor 10, φ ≥ 1e-8 throughout).
[[nodiscard]] double gamma_scale_newton(double phi0, double penalised_deviance,
                                        double null_space_dim, double n);

}  // namespace krelm
