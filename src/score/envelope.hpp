// The Laplace-approximate negative log marginal likelihood V(ρ) (REML for the Gaussian
// family) of the seven exponential families, its envelope gradient and the Hessian by
// central differences of that gradient.
#pragma once

#include <functional>

#include "../error.hpp"
#include "../matrix.hpp"
#include "score_context.hpp"
#include "score_eval.hpp"

namespace krelm {

/// Value returned for degenerate fits of the profiled-scale families; with a zero
/// gradient it makes the line search reject the point.
constexpr double degenerate_score = 1e12;
/// Step of the central differences of the gradient.
constexpr double hessian_step = 1e-5;

/// (V, g) at ρ from one inner fit. Errors: the inner fit's.
[[nodiscard]] Expected<ValueAndGradient> laml_score(const ScoreContext& context, const Vector& rho);

using GradientFunction = std::function<Expected<ValueAndGradient>(const Vector&)>;

/// (V, g) at ρ, then column i of H = (g(ρ + h·e_i) − g(ρ − h·e_i))/(2h), symmetrised.
[[nodiscard]] Expected<ScoreEval> score_with_central_hessian(const GradientFunction& gradient,
                                                             const Vector& rho, double step);

/// The score function of the exponential-family driver: laml_score with its Hessian.
[[nodiscard]] Expected<ScoreEval> score_with_hessian(const ScoreContext& context,
                                                     const Vector& rho);

}  // namespace krelm
