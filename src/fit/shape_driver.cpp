// Shape-aware driver: checks, starting vector, joint search and the fitted record.
#include "shape_driver.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "../cholesky_inverse.hpp"
#include "../family/glm_family.hpp"
#include "../family/tweedie.hpp"
#include "../format.hpp"
#include "../internal_fault.hpp"
#include "../score/shape_families.hpp"
#include "data_checks.hpp"
#include "fit_record.hpp"
#include "post_fit.hpp"

namespace krelm {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

/// The starting-parameter checks; the comparisons are written so that NaN fails them.
Expected<void> check_start_parameters(const Family& family) {
  switch (family.kind) {
    case FamilyKind::NegBin:
      if (!(family.theta > 0.0 && family.theta < infinity)) {
        return std::unexpected(invalid_parameter(
            "NegBin overdispersion init_theta must be a positive finite scalar (small θ → high "
            "variance, large θ → Poisson limit); got init_theta=" +
            format_float(family.theta)));
      }
      break;
    case FamilyKind::Tweedie:
      if (!(family.phi > 0.0 && family.phi < infinity)) {
        return std::unexpected(invalid_parameter(
            "Tweedie dispersion init_phi must be a positive finite scalar; got init_phi=" +
            format_float(family.phi)));
      }
      break;
    case FamilyKind::TDist:
      if (!(family.nu > 2.0 && family.nu < infinity)) {
        return std::unexpected(invalid_parameter(
            "scat/TDist degrees-of-freedom init_nu must be > 2 (finite variance); got init_nu=" +
            format_float(family.nu)));
      }
      if (!(family.sigma2 > 0.0 && family.sigma2 < infinity)) {
        return std::unexpected(invalid_parameter(
            "scat/TDist scale init_sigma2 must be a positive finite scalar; got init_sigma2=" +
            format_float(family.sigma2)));
      }
      break;
    default:
      internal_fault("check_start_parameters: not a shape-aware family: " +
                     std::string(display_name(family.kind)));
  }
  return {};
}

/// The checks in their order; `start_parameters` is null when the caller has checked them.
Expected<void> check_in_order(FamilyKind kind, const Family* start_parameters, std::size_t x_rows,
                              const VectorRef& y, const std::optional<Vector>& prior_weights,
                              std::size_t penalty_count) {
  if (auto counted =
          check_rows_and_weight_length(x_rows, static_cast<std::size_t>(y.size()), prior_weights);
      !counted) {
    return counted;
  }
  if (start_parameters != nullptr) {
    if (auto start = check_start_parameters(*start_parameters); !start) {
      return start;
    }
  }
  if (auto domain = validate_response(kind, y); !domain) {
    return domain;
  }
  if (penalty_count != 1) {
    return std::unexpected(invalid_parameter(
        "shape-aware families (TDist/scat, NegBin, Tweedie, Ocat) are restricted to "
        "single-smooth fits in 94b; got " +
        std::to_string(penalty_count) + " terms"));
  }
  if (auto finite = check_response_finite(y); !finite) {
    return finite;
  }
  return check_weights_valid(prior_weights);
}

/// The reported scale, also the factor of vcov: θ, φ (floored) or σ².
double reported_scale(FamilyKind kind, const Vector& joint) {
  switch (kind) {
    case FamilyKind::NegBin:
    case FamilyKind::TDist:
      return std::exp(joint(1));
    default:
      return tweedie_params_from(joint(1), joint(2)).phi;
  }
}

}  // namespace

Expected<void> check_shape_aware_data(const Family& family, std::size_t x_rows, const VectorRef& y,
                                      const std::optional<Vector>& prior_weights,
                                      std::size_t penalty_count) {
  return check_in_order(family.kind, &family, x_rows, y, prior_weights, penalty_count);
}

Vector shape_start_vector(const Family& family) {
  switch (family.kind) {
    case FamilyKind::NegBin:
      return Vector{{0.0, std::log(family.theta)}};
    case FamilyKind::Tweedie:
      return Vector{
          {0.0, std::log(family.phi), std::log((family.power - 1.0) / (2.0 - family.power))}};
    case FamilyKind::TDist:
      return Vector{{0.0, std::log(family.sigma2), std::log(family.nu - 2.0)}};
    default:
      internal_fault("shape_start_vector: not a shape-aware family: " +
                     std::string(display_name(family.kind)));
  }
}

Expected<JointFit> run_joint_search(const ScoreContext& context, const ShapeFamily& family,
                                    const Vector& start, const IterationHook& between_iterations) {
  auto outer = outer_newton(
      [&](const Vector& joint) { return shape_score_with_hessian(context, family, joint); }, start,
      between_iterations);
  if (!outer) {
    return std::unexpected(std::move(outer.error()));
  }
  auto fit = family.fit_at(context, outer->rho);
  if (!fit) {
    return std::unexpected(std::move(fit.error()));
  }
  return JointFit{*std::move(outer), *std::move(fit)};
}

FittedGam joint_fit_record(const ScoreContext& context, JointFit&& joint, double scale,
                           LinkKind link_kind, std::size_t x_rows, Predictor&& predictor) {
  const Vector& estimate = joint.outer.rho;
  const Vector rho = estimate.head(1);
  const RowMatrix inverse = inverse_from_cholesky(joint.fit.chol_factor);
  FittedGam result;
  result.edf_total = edf_total(context.x, joint.fit.working_weights, inverse);
  result.edf_per_term = edf_per_penalty(context.penalties, rho, inverse);
  result.scale = scale;
  result.vcov = posterior_covariance(inverse, scale);
  result.beta = std::move(joint.fit.beta);
  record_search(result, rho, joint.outer.iters, joint.outer.value, x_rows);
  result.shape_params = estimate.tail(estimate.size() - 1);
  const bool finite = record_is_finite(result) && estimate.array().isFinite().all();
  result.converged = joint.outer.converged && joint.fit.converged && finite;
  result.predictor = std::move(predictor);
  result.link_kind = link_kind;
  return result;
}

Expected<FittedGam> fit_shape_aware(FamilyKind kind, Design design, std::size_t x_rows, Vector y,
                                    std::optional<Vector> prior_weights, const Vector& start,
                                    const IterationHook& between_iterations) {
  if (auto checked =
          check_in_order(kind, nullptr, x_rows, y, prior_weights, design.penalties.size());
      !checked) {
    return std::unexpected(std::move(checked.error()));
  }
  if (static_cast<std::size_t>(start.size()) != 1 + shape_component_count(kind)) {
    internal_fault("fit_shape_aware: starting vector of length " + std::to_string(start.size()) +
                   " for " + std::string(display_name(kind)));
  }
  const std::unique_ptr<ShapeFamily> family = make_shape_family(kind);
  const ScoreContext context =
      make_score_context(kind, design, std::move(y), std::move(prior_weights));
  auto joint = run_joint_search(context, *family, start, between_iterations);
  if (!joint) {
    return std::unexpected(std::move(joint.error()));
  }
  const double scale = reported_scale(kind, joint->outer.rho);
  return joint_fit_record(context, *std::move(joint), scale, link_kind_of(kind), x_rows,
                          std::move(design.predictor));
}

}  // namespace krelm
