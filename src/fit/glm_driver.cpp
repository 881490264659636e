// Exponential-family driver.
#include "glm_driver.hpp"

#include <cmath>

#include "../cholesky_inverse.hpp"
#include "../family/glm_family.hpp"
#include "../family/pearson_scale.hpp"
#include "../inner/closed_form.hpp"
#include "../inner/pirls.hpp"
#include "../products.hpp"
#include "../score/envelope.hpp"
#include "../score/score_context.hpp"
#include "data_checks.hpp"
#include "fit_record.hpp"
#include "post_fit.hpp"

namespace krelm {

namespace {

Expected<InnerFit> final_fit(const ScoreContext& context, const Vector& rho) {
  if (context.family == FamilyKind::Gaussian) {
    return closed_form_fit(context.inner_data(), *context.gaussian, rho);
  }
  return pirls(context.inner_data(), PirlsFamily{context.family}, rho, context.settings);
}

double scale_of(const ScoreContext& context, const InnerFit& fit, const Vector& rho, double edf) {
  switch (context.family) {
    case FamilyKind::Gaussian:
      return gaussian_scale(fit.deviance, context.penalties, rho, fit.beta,
                            static_cast<double>(context.n()),
                            static_cast<double>(context.null_space_dim));
    case FamilyKind::Poisson:
    case FamilyKind::Bernoulli:
      return 1.0;
    default: {
      const auto& weights = context.prior_weights;
      return pearson_scale(context.family, context.y, fit.mu,
                           weights ? as_span(*weights) : std::span<const double>{}, edf);
    }
  }
}

}  // namespace

Expected<void> check_glm_data(FamilyKind family, std::size_t x_rows, const VectorRef& y,
                              const std::optional<Vector>& prior_weights) {
  if (auto counted =
          check_rows_and_weight_length(x_rows, static_cast<std::size_t>(y.size()), prior_weights);
      !counted) {
    return counted;
  }
  if (auto domain = validate_response(family, y); !domain) {
    return domain;
  }
  if (auto finite = check_response_finite(y); !finite) {
    return finite;
  }
  return check_weights_valid(prior_weights);
}

Expected<FittedGam> fit_glm(FamilyKind family, Design design, std::size_t x_rows, Vector y,
                            std::optional<Vector> prior_weights,
                            const IterationHook& between_iterations) {
  if (auto checked = check_glm_data(family, x_rows, y, prior_weights); !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  ScoreContext context = make_score_context(family, design, std::move(y), std::move(prior_weights));
  const Vector rho0 = Vector::Zero(static_cast<Eigen::Index>(context.m()));
  auto outer =
      outer_newton([&context](const Vector& rho) { return score_with_hessian(context, rho); }, rho0,
                   between_iterations);
  if (!outer) {
    return std::unexpected(std::move(outer.error()));
  }
  auto fit = final_fit(context, outer->rho);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  const RowMatrix inverse = inverse_from_cholesky(fit->chol_factor);
  FittedGam result;
  // The Gaussian working weights are the prior weights, so XᵀWX is the Gram matrix the
  // context already holds: no second pass over X.
  result.edf_total = context.gaussian ? trace_of_product(inverse, context.gaussian->xtwx)
                                      : edf_total(context.x, fit->working_weights, inverse);
  result.edf_per_term = edf_per_penalty(context.penalties, outer->rho, inverse);
  result.scale = scale_of(context, *fit, outer->rho, result.edf_total);
  result.vcov = posterior_covariance(inverse, result.scale);
  result.beta = std::move(fit->beta);
  record_search(result, outer->rho, outer->iters, outer->value, x_rows);
  const bool inner_converged = family == FamilyKind::Gaussian || fit->converged;
  result.converged = outer->converged && inner_converged && record_is_finite(result);
  result.predictor = std::move(design.predictor);
  result.link_kind = link_kind_of(family);
  result.shape_params = Vector(0);
  return result;
}

}  // namespace krelm
