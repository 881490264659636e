// The exponential-family Laplace score. φ is fixed (Poisson, Bernoulli), profiled
// (Gaussian, quasi families, inverse Gaussian) or found by Newton's method (Gamma).
#include "envelope.hpp"

#include <cmath>
#include <numbers>

#include "../cholesky_inverse.hpp"
#include "../design/design.hpp"
#include "../family/saturated_loglik.hpp"
#include "../inner/inverse_gaussian_newton.hpp"

namespace krelm {

namespace {

constexpr double ln_two_pi = 1.8378770664093453;
constexpr double scale_floor = 1e-8;

bool has_profiled_scale(FamilyKind family) {
  return family == FamilyKind::Gaussian || family == FamilyKind::QuasiPoisson ||
         family == FamilyKind::QuasiBinomial || family == FamilyKind::InverseGaussian ||
         family == FamilyKind::Gamma;
}

Expected<InnerFit> inner_fit_at(const ScoreContext& context, const Vector& rho) {
  const InnerData data = context.inner_data();
  switch (context.family) {
    case FamilyKind::Gaussian:
      return closed_form_fit(data, *context.gaussian, rho, ClosedFormOutput::ScoreOnly);
    case FamilyKind::InverseGaussian: {
      const RowMatrix penalty = penalty_sum(context.penalties, rho);
      auto fit = pirls_with_penalty(data, PirlsFamily{context.family}, penalty, context.settings);
      if (fit) {
        add_inverse_gaussian_newton_block(data, penalty, rho, *fit);
      }
      return fit;
    }
    default:
      return pirls(data, PirlsFamily{context.family}, rho, context.settings);
  }
}

double log_det_of(const InnerFit& fit) {
  if (fit.log_det) {
    return *fit.log_det;
  }
  return cholesky_log_det(fit.chol_factor);
}

}  // namespace

Expected<ValueAndGradient> laml_score(const ScoreContext& context, const Vector& rho) {
  const auto m = static_cast<Eigen::Index>(context.m());
  const Vector lambda = rho.head(m).unaryExpr([](double v) { return std::exp(v); });
  auto fit = inner_fit_at(context, rho);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  const RowMatrix inverse = inverse_from_cholesky(fit->chol_factor);
  Vector quadratic(m);  // b_j = β̂ᵀS_jβ̂
  Vector traces(m);     // t_j = tr(A⁻¹S_j)
  for (Eigen::Index j = 0; j < m; ++j) {
    const RowMatrix& penalty = context.penalties[static_cast<std::size_t>(j)];
    const Vector penalised_beta = penalty * fit->beta;
    quadratic(j) = fit->beta.dot(penalised_beta);
    traces(j) = trace_of_product(inverse, penalty);
  }
  const double log_det = log_det_of(*fit);
  const PenaltyLogDet::Value penalty_log_det = context.penalty_logdet.evaluate(rho);
  double penalised_deviance = fit->deviance;
  for (Eigen::Index j = 0; j < m; ++j) {
    penalised_deviance += lambda(j) * quadratic(j);
  }

  const double n = static_cast<double>(context.n());
  const double p = static_cast<double>(fit->p);
  const double null_dim = static_cast<double>(context.null_space_dim);
  double phi = 1.0;
  if (has_profiled_scale(context.family)) {
    double edf = p;
    for (Eigen::Index j = 0; j < m; ++j) {
      edf -= lambda(j) * traces(j);
    }
    if (fit->deviance <= 0.0 || penalised_deviance <= 0.0 || n <= edf || n - null_dim <= 0.0) {
      return ValueAndGradient{degenerate_score, Vector::Zero(m)};
    }
    if (context.family == FamilyKind::Gamma) {
      const double start = std::max(penalised_deviance / (n - null_dim), scale_floor);
      phi = gamma_scale_newton(start, penalised_deviance, null_dim, n);
    } else {
      phi = std::max(penalised_deviance / std::max(n - null_dim, 1.0), scale_floor);
    }
  }
  const double saturated = saturated_loglik(context.family, context.y, phi);
  const double log_two_pi_phi = phi == 1.0 ? ln_two_pi : std::log(2.0 * std::numbers::pi * phi);
  const double value = 0.5 * log_det + penalised_deviance / (2.0 * phi) -
                       (null_dim / 2.0) * log_two_pi_phi - 0.5 * penalty_log_det.log_det -
                       saturated;

  Vector gradient(m);
  for (Eigen::Index j = 0; j < m; ++j) {
    gradient(j) = 0.5 * lambda(j) * traces(j) + lambda(j) * quadratic(j) / (2.0 * phi) -
                  0.5 * penalty_log_det.derivative(j);
  }
  if (fit->extra) {
    // Exact derivative of ½·log det H_N: the Newton weights move with ρ through η̂.
    const NewtonDerivatives& extra = *fit->extra;
    const Vector weighted_leverage = extra.dw_deta.cwiseProduct(extra.leverage);
    for (Eigen::Index j = 0; j < m; ++j) {
      gradient(j) = 0.5 * extra.trace_terms(j) + lambda(j) * quadratic(j) / (2.0 * phi) -
                    0.5 * penalty_log_det.derivative(j) +
                    0.5 * weighted_leverage.dot(extra.deta_drho.col(j));
    }
  }
  return ValueAndGradient{value, std::move(gradient)};
}

Expected<ScoreEval> score_with_central_hessian(const GradientFunction& gradient_at,
                                               const Vector& rho, double step) {
  auto centre = gradient_at(rho);
  if (!centre) {
    return std::unexpected(std::move(centre.error()));
  }
  const auto m = rho.size();
  RowMatrix hessian(m, m);
  for (Eigen::Index i = 0; i < m; ++i) {
    Vector forward = rho;
    forward(i) += step;
    auto plus = gradient_at(forward);
    if (!plus) {
      return std::unexpected(std::move(plus.error()));
    }
    Vector backward = rho;
    backward(i) -= step;
    auto minus = gradient_at(backward);
    if (!minus) {
      return std::unexpected(std::move(minus.error()));
    }
    hessian.col(i) = (plus->gradient - minus->gradient) / (2.0 * step);
  }
  for (Eigen::Index i = 0; i < m; ++i) {
    for (Eigen::Index k = i + 1; k < m; ++k) {
      const double mean = (hessian(i, k) + hessian(k, i)) / 2.0;
      hessian(i, k) = mean;
      hessian(k, i) = mean;
    }
  }
  return ScoreEval{centre->value, std::move(centre->gradient), std::move(hessian)};
}

Expected<ScoreEval> score_with_hessian(const ScoreContext& context, const Vector& rho) {
  return score_with_central_hessian(
      [&context](const Vector& at) { return laml_score(context, at); }, rho, hessian_step);
}

}  // namespace krelm
