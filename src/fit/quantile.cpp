// Quantile driver (see the header). The ELF score is the Laplace score of the exponential
// families with φ fixed at 1: σ already plays the part of a scale in the loss.
#include "quantile.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "../cholesky_inverse.hpp"
#include "../family/guards.hpp"
#include "../inner/armijo.hpp"
#include "../linalg.hpp"
#include "../products.hpp"
#include "../score/envelope.hpp"
#include "data_checks.hpp"
#include "fit_record.hpp"
#include "post_fit.hpp"

namespace krelm {

namespace {

constexpr double ln_two_pi = 1.8378770664093453;
constexpr double ln_four = 1.3862943611198906;
/// σ = 0.05·√(2π·m)/ln 4 · (τ factor): the loss scale grows with the residual spread.
constexpr double elf_sigma_multiplier = 0.05;

/// The k-th smallest residual, k = (n − 1)·τ rounded half away from zero, held in [0, n − 1]
/// (a NaN position counts as 0). Reorders `residuals`.
double residual_quantile(Vector& residuals, double tau) {
  const auto n = static_cast<std::size_t>(residuals.size());
  if (n == 0) {
    return 0.0;
  }
  const double position = std::round(static_cast<double>(n - 1) * tau);
  std::size_t k = 0;
  if (position >= static_cast<double>(n - 1)) {
    k = n - 1;
  } else if (position > 0.0) {
    k = static_cast<std::size_t>(position);
  }
  const auto kth = residuals.begin() + static_cast<std::ptrdiff_t>(k);
  std::nth_element(residuals.begin(), kth, residuals.end());
  return *kth;
}

ElfProblem elf_problem(const ElfScoreContext& context) {
  // Iteration cap 50, tolerance 1e-7 and 20 line-search trials: the ElfProblem defaults.
  return ElfProblem{.penalties = context.data.penalties,
                    .x = context.data.x,
                    .y = context.data.y,
                    .elf = context.elf,
                    .start_beta = &context.warm_start};
}

}  // namespace

Expected<ElfWarmStart> elf_warm_start(const RowMatrix& x, const RowMatrix& penalty, const Vector& y,
                                      double tau) {
  RowMatrix factor = weighted_gram(x, {}) + penalty;  // A₀ = XᵀX + S at λ = 1
  if (auto factored = factor_cholesky_in_place(factor); !factored) {
    return std::unexpected(
        singular_system("ELF warm-start Cholesky: " + error_message(factored.error())));
  }
  Vector beta = weighted_cross_product(x, {}, as_span(y));
  cholesky_solve_in_place(factor, beta);  // β_LS = A₀⁻¹Xᵀy
  Vector residuals = y - design_times(x, beta);
  const auto n = static_cast<double>(residuals.size());
  const double mean_squared = residuals.squaredNorm() / std::max(n, 1.0);
  const double quantile = residual_quantile(residuals, tau);
  // δ = A₀⁻¹Xᵀ(q·1): with an intercept column this moves the fit by q.
  const Vector shifted = Vector::Constant(residuals.size(), quantile);
  Vector shift = weighted_cross_product(x, {}, as_span(shifted));
  cholesky_solve_in_place(factor, shift);
  return ElfWarmStart{beta + shift, mean_squared};
}

ElfTuning auto_tune_elf(double mean_squared_residual, double tau, double sigma, double lambda) {
  ElfTuning tuned{sigma, lambda};
  if (!(sigma > 0.0)) {
    // Far quantiles see fewer residuals on their thin side; widen the loss there.
    const double tail_factor = std::max(1.0 / (4.0 * tau * (1.0 - tau)), 1.0);
    const double spread = floor_at(mean_squared_residual, elf_residual_floor);
    tuned.sigma =
        elf_sigma_multiplier * std::sqrt(2.0 * std::numbers::pi * spread) / ln_four * tail_factor;
  }
  if (!(lambda > 0.0)) {
    tuned.lambda = tuned.sigma;
  }
  return tuned;
}

Expected<ValueAndGradient> elf_laml_score(const ElfScoreContext& context, const Vector& rho) {
  const ScoreContext& data = context.data;
  auto fit = elf_newton_fit(elf_problem(context), rho);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  const auto m = static_cast<Eigen::Index>(data.m());
  const RowMatrix inverse = inverse_from_cholesky(fit->chol_factor);
  const double log_det = cholesky_log_det(fit->chol_factor);
  double penalised_deviance = fit->deviance;
  double penalty_log_det = 0.0;  // Σ_j (r_j·ρ_j + ℓ_j)
  Vector gradient(m);
  for (Eigen::Index j = 0; j < m; ++j) {
    const auto index = static_cast<std::size_t>(j);
    const RowMatrix& penalty = data.penalties[index];
    const double lambda = std::exp(rho(j));
    const double quadratic = fit->beta.dot(penalty * fit->beta);  // b_j = β̂ᵀS_jβ̂
    const double trace = trace_of_product(inverse, penalty);      // t_j = tr(A⁻¹S_j)
    const auto rank = static_cast<double>(data.ranks[index]);
    penalised_deviance += lambda * quadratic;
    penalty_log_det += rank * rho(j) + data.log_pdets[index];
    // Envelope gradient: β̂ and the Newton weights are held fixed.
    gradient(j) = 0.5 * lambda * trace + 0.5 * lambda * quadratic - 0.5 * rank;
  }
  const auto n = static_cast<double>(data.n());
  const auto null_dim = static_cast<double>(data.null_space_dim);
  const ElfConstants& elf = context.elf;
  const double saturated = n * elf_saturated_loglik_per_obs(elf.tau, elf.sigma, elf.lambda);
  const double value = 0.5 * log_det + 0.5 * penalised_deviance - 0.5 * ln_two_pi * null_dim -
                       0.5 * penalty_log_det - saturated;
  return ValueAndGradient{value, std::move(gradient)};
}

Expected<ScoreEval> elf_score_with_hessian(const ElfScoreContext& context, const Vector& rho) {
  return score_with_central_hessian(
      [&context](const Vector& at) { return elf_laml_score(context, at); }, rho, hessian_step);
}

Expected<void> check_quantile_data(std::size_t x_rows, const VectorRef& y,
                                   const std::optional<Vector>& prior_weights,
                                   std::size_t penalty_count) {
  if (auto counted =
          check_rows_and_weight_length(x_rows, static_cast<std::size_t>(y.size()), prior_weights);
      !counted) {
    return counted;
  }
  if (penalty_count != 1) {
    return std::unexpected(
        invalid_parameter("ELF/quantile is restricted to single-smooth fits in 94b; got " +
                          std::to_string(penalty_count) + " terms"));
  }
  if (auto finite = check_response_finite(y); !finite) {
    return finite;
  }
  return check_weights_valid(prior_weights);
}

Expected<FittedGam> fit_quantile(double tau, double sigma, double lambda, Design design,
                                 std::size_t x_rows, Vector y, std::optional<Vector> prior_weights,
                                 const IterationHook& between_iterations) {
  if (auto checked = check_quantile_data(x_rows, y, prior_weights, design.penalties.size());
      !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  auto warm = elf_warm_start(design.model_matrix, design.penalties.front().matrix, y, tau);
  if (!warm) {
    return std::unexpected(std::move(warm.error()));
  }
  const ElfTuning tuned = auto_tune_elf(warm->mean_squared_residual, tau, sigma, lambda);
  ElfScoreContext context{
      make_score_context(FamilyKind::Elf, design, std::move(y), std::move(prior_weights)),
      ElfConstants{tau, tuned.sigma, tuned.lambda}, std::move(warm->beta)};

  const Vector rho0 = Vector::Zero(static_cast<Eigen::Index>(context.data.m()));
  auto outer =
      outer_newton([&context](const Vector& rho) { return elf_score_with_hessian(context, rho); },
                   rho0, between_iterations);
  if (!outer) {
    return std::unexpected(std::move(outer.error()));
  }
  auto fit = elf_newton_fit(elf_problem(context), outer->rho);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  const RowMatrix inverse = inverse_from_cholesky(fit->chol_factor);
  FittedGam result;
  result.edf_total = edf_total(context.data.x, fit->working_weights, inverse);
  result.edf_per_term = edf_per_penalty(context.data.penalties, outer->rho, inverse);
  result.scale = tuned.sigma;
  result.vcov = posterior_covariance(inverse, tuned.sigma);
  result.beta = std::move(fit->beta);
  record_search(result, outer->rho, outer->iters, outer->value, x_rows);
  result.converged = outer->converged && fit->converged && record_is_finite(result);
  result.predictor = std::move(design.predictor);
  result.link_kind = LinkKind::Identity;
  result.shape_params = Vector(0);
  return result;
}

}  // namespace krelm
