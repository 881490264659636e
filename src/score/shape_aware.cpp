// The shape score: value, gradient (envelope in ρ; analytic or differenced in the shape
// components), frozen-β gradient and Hessian.
#include "shape_aware.hpp"

#include <cmath>
#include <numbers>
#include <utility>

#include "../cholesky_inverse.hpp"
#include "../internal_fault.hpp"
#include "envelope.hpp"

namespace krelm {

namespace {

constexpr double ln_two_pi = 1.8378770664093453;

/// The single penalty of a shape-aware fit.
const RowMatrix& penalty_of(const ScoreContext& context) { return context.penalties.front(); }

double quadratic_of(const ScoreContext& context, const Vector& beta) {
  return beta.dot(penalty_of(context) * beta);
}

double log_det_of(const InnerFit& fit) {
  if (fit.log_det) {
    return *fit.log_det;
  }
  return cholesky_log_det(fit.chol_factor);
}

/// V from a fit at ϑ whose b = β̂ᵀSβ̂ is already known.
double value_with_quadratic(const ScoreContext& context, const ShapeFamily& family,
                            const InnerFit& fit, const Vector& joint, double quadratic) {
  const double rho = joint(0);
  const double penalised_deviance = fit.deviance + std::exp(rho) * quadratic;
  const double phi = family.score_scale(joint);
  const double null_dim = static_cast<double>(context.null_space_dim);
  const double log_two_pi_phi = phi == 1.0 ? ln_two_pi : std::log(2.0 * std::numbers::pi * phi);
  // P = r·ρ + ℓ, the log pseudo-determinant of the single penalty λ·S.
  const double penalty_log_det =
      static_cast<double>(context.ranks.front()) * rho + context.log_pdets.front();
  return 0.5 * log_det_of(fit) + penalised_deviance / (2.0 * phi) -
         (null_dim / 2.0) * log_two_pi_phi - 0.5 * penalty_log_det -
         family.saturated_loglik(context, joint);
}

/// ∂V/∂ρ = ½·λ·t + λ·b/(2φ_V) − ½·r: β̂ and the working weights are held at their values.
double rho_component(const ScoreContext& context, double lambda, const FrozenFit& frozen,
                     double phi) {
  return 0.5 * lambda * frozen.trace + lambda * frozen.quadratic / (2.0 * phi) -
         0.5 * static_cast<double>(context.ranks.front());
}

/// V at ϑ from a fresh fit (the refits of the differenced shape components).
Expected<double> refitted_value(const ScoreContext& context, const ShapeFamily& family,
                                const Vector& joint) {
  auto fit = family.fit_at(context, joint);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  return shape_score_value(context, family, *fit, joint);
}

struct CentreEvaluation {
  ValueAndGradient score;
  FrozenFit frozen;
};

Expected<CentreEvaluation> evaluate_centre(const ScoreContext& context, const ShapeFamily& family,
                                           const Vector& joint) {
  auto fit = family.fit_at(context, joint);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  const double quadratic = quadratic_of(context, fit->beta);
  const double value = value_with_quadratic(context, family, *fit, joint, quadratic);
  const double lambda = std::exp(joint(0));
  FrozenFit frozen{std::move(fit->mu), fit->deviance, quadratic,
                   trace_with_inverse(fit->chol_factor, penalty_of(context))};

  Vector gradient(joint.size());
  gradient(0) = rho_component(context, lambda, frozen, family.score_scale(joint));
  const auto shapes = joint.size() - 1;
  if (auto analytic = family.analytic_shape_score_gradient(
          context, frozen.mu, joint, frozen.deviance + lambda * frozen.quadratic)) {
    gradient.tail(shapes) = *analytic;
  } else {
    for (Eigen::Index k = 1; k < joint.size(); ++k) {
      Vector forward = joint;
      forward(k) += shape_value_step;
      auto plus = refitted_value(context, family, forward);
      if (!plus) {
        return std::unexpected(std::move(plus.error()));
      }
      Vector backward = joint;
      backward(k) -= shape_value_step;
      auto minus = refitted_value(context, family, backward);
      if (!minus) {
        return std::unexpected(std::move(minus.error()));
      }
      gradient(k) = (*plus - *minus) / (2.0 * shape_value_step);
    }
  }
  return CentreEvaluation{ValueAndGradient{value, std::move(gradient)}, std::move(frozen)};
}

void symmetrise_in_place(RowMatrix& matrix) {
  for (Eigen::Index i = 0; i < matrix.rows(); ++i) {
    for (Eigen::Index k = i + 1; k < matrix.cols(); ++k) {
      const double mean = (matrix(i, k) + matrix(k, i)) / 2.0;
      matrix(i, k) = mean;
      matrix(k, i) = mean;
    }
  }
}

/// The Hessian of an analytic family: the ρ column from refitted gradients, the shape
/// columns from the frozen-β gradient of the centre fit, which needs no fit at all.
Expected<ScoreEval> analytic_shape_hessian(const ScoreContext& context, const ShapeFamily& family,
                                           const Vector& joint) {
  auto centre = evaluate_centre(context, family, joint);
  if (!centre) {
    return std::unexpected(std::move(centre.error()));
  }
  const auto q = joint.size();
  RowMatrix hessian(q, q);
  Vector forward = joint;
  forward(0) += shape_hessian_step;
  auto plus = shape_score_gradient(context, family, forward);
  if (!plus) {
    return std::unexpected(std::move(plus.error()));
  }
  Vector backward = joint;
  backward(0) -= shape_hessian_step;
  auto minus = shape_score_gradient(context, family, backward);
  if (!minus) {
    return std::unexpected(std::move(minus.error()));
  }
  hessian.col(0) = (plus->gradient - minus->gradient) / (2.0 * shape_hessian_step);
  for (Eigen::Index i = 1; i < q; ++i) {
    Vector frozen_forward = joint;
    frozen_forward(i) += frozen_hessian_step;
    Vector frozen_backward = joint;
    frozen_backward(i) -= frozen_hessian_step;
    hessian.col(i) = (eval_grad_frozen_beta(context, family, frozen_forward, centre->frozen) -
                      eval_grad_frozen_beta(context, family, frozen_backward, centre->frozen)) /
                     (2.0 * frozen_hessian_step);
  }
  symmetrise_in_place(hessian);
  return ScoreEval{centre->score.value, std::move(centre->score.gradient), std::move(hessian)};
}

}  // namespace

double shape_score_value(const ScoreContext& context, const ShapeFamily& family,
                         const InnerFit& fit, const Vector& joint) {
  return value_with_quadratic(context, family, fit, joint, quadratic_of(context, fit.beta));
}

Expected<ValueAndGradient> shape_score_gradient(const ScoreContext& context,
                                                const ShapeFamily& family, const Vector& joint) {
  auto centre = evaluate_centre(context, family, joint);
  if (!centre) {
    return std::unexpected(std::move(centre.error()));
  }
  return std::move(centre->score);
}

Vector eval_grad_frozen_beta(const ScoreContext& context, const ShapeFamily& family,
                             const Vector& joint, const FrozenFit& frozen) {
  const double lambda = std::exp(joint(0));
  auto shapes = family.analytic_shape_score_gradient(context, frozen.mu, joint,
                                                     lambda * frozen.quadratic + frozen.deviance);
  if (!shapes) {
    internal_fault(
        "eval_grad_frozen_beta called for a family without analytic_shape_score_gradient — "
        "gate this with has_analytic_shape_grad in the caller.");
  }
  Vector gradient(joint.size());
  gradient(0) = rho_component(context, lambda, frozen, family.score_scale(joint));
  gradient.tail(joint.size() - 1) = *shapes;
  return gradient;
}

Expected<ScoreEval> shape_score_with_hessian(const ScoreContext& context, const ShapeFamily& family,
                                             const Vector& joint) {
  if (family.has_analytic_shape_grad()) {
    return analytic_shape_hessian(context, family, joint);
  }
  return score_with_central_hessian(
      [&](const Vector& at) { return shape_score_gradient(context, family, at); }, joint,
      shape_hessian_step);
}

}  // namespace krelm
