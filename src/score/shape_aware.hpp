// The score of fits that estimate family shape parameters together with the smoothing
// parameter: the Laplace score on the joint vector ϑ = (ρ, s₁, …), in which the family
// (so the inner fit and the saturated likelihood) depends on the shape components s.
// Generic over a ShapeFamily; the concrete families live in shape_families.
#pragma once

#include <optional>

#include "../error.hpp"
#include "../inner/inner_fit.hpp"
#include "../matrix.hpp"
#include "score_context.hpp"
#include "score_eval.hpp"

namespace krelm {

/// Step of the central differences of the score value in a shape component.
constexpr double shape_value_step = 1e-5;
/// Step of the central differences of the full gradient (the default Hessian).
constexpr double shape_hessian_step = 1e-4;
/// Step of the central differences of the frozen-β gradient (analytic families).
constexpr double frozen_hessian_step = 1e-5;

/// What the shape score needs from a family. ϑ = (ρ, s₁, …) always carries the single log
/// smoothing parameter first; the context always carries exactly one penalty.
class ShapeFamily {
 public:
  ShapeFamily() = default;
  ShapeFamily(const ShapeFamily&) = default;
  ShapeFamily(ShapeFamily&&) = default;
  ShapeFamily& operator=(const ShapeFamily&) = default;
  ShapeFamily& operator=(ShapeFamily&&) = default;
  virtual ~ShapeFamily() = default;

  /// The inner fit with the family decoded from ϑ, at ρ = ϑ₁. Errors: the solver's.
  [[nodiscard]] virtual Expected<InnerFit> fit_at(const ScoreContext& context,
                                                  const Vector& joint) const = 0;

  /// φ_V, the scale the score divides the penalised deviance by.
  [[nodiscard]] virtual double score_scale(const Vector& joint) const = 0;

  /// ls, the saturated log-likelihood at the shape components of ϑ.
  [[nodiscard]] virtual double saturated_loglik(const ScoreContext& context,
                                                const Vector& joint) const = 0;

  /// True when analytic_shape_score_gradient yields a value.
  [[nodiscard]] virtual bool has_analytic_shape_grad() const { return false; }

  /// ∂V/∂s at frozen coefficients (fitted means `mu`, penalised deviance D + λ·b), one
  /// entry per shape component; nothing for a family without an analytic form.
  [[nodiscard]] virtual std::optional<Vector> analytic_shape_score_gradient(
      const ScoreContext& /*context*/, const Vector& /*mu*/, const Vector& /*joint*/,
      double /*penalised_deviance*/) const {
    return std::nullopt;
  }
};

/// The parts of a fit that the frozen-β gradient holds fixed.
struct FrozenFit {
  Vector mu;
  double deviance = 0.0;
  double quadratic = 0.0;  ///< b = β̂ᵀSβ̂
  double trace = 0.0;      ///< t = tr(A⁻¹S)
};

/// V = ½·log det A + Dp/(2φ_V) − (M_p/2)·ln(2π·φ_V) − ½·(r·ρ + ℓ) − ls for a fit at ϑ.
[[nodiscard]] double shape_score_value(const ScoreContext& context, const ShapeFamily& family,
                                       const InnerFit& fit, const Vector& joint);

/// (V, g) at ϑ: one fit, the envelope ρ component, and the shape components analytically
/// or by central differences of V with refits. Errors: the first failing fit's.
[[nodiscard]] Expected<ValueAndGradient> shape_score_gradient(const ScoreContext& context,
                                                              const ShapeFamily& family,
                                                              const Vector& joint);

/// g at ϑ′ with the frozen fit's μ, D, b and t. Only for families with an analytic shape
/// gradient; calling it for another family is an internal fault.
[[nodiscard]] Vector eval_grad_frozen_beta(const ScoreContext& context, const ShapeFamily& family,
                                           const Vector& joint, const FrozenFit& frozen);

/// (V, g, H) at ϑ, H by central differences, symmetrised: of the full gradient (step 1e-4)
/// for every column, except the shape columns of an analytic family, which difference the
/// frozen-β gradient of the fit at ϑ (step 1e-5, no refits). The score function of the
/// shape-aware drivers. Errors: the first failing fit's.
[[nodiscard]] Expected<ScoreEval> shape_score_with_hessian(const ScoreContext& context,
                                                           const ShapeFamily& family,
                                                           const Vector& joint);

}  // namespace krelm
