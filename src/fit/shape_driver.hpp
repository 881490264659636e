// The fit driver of the shape-aware families (negative binomial, scaled t, Tweedie): the
// outer Newton search on the joint vector of the log smoothing parameter and the
// transformed shape parameters, one final fit and the post-fit quantities. The joint
// search and the record it fills are shared with the ordered-categorical driver.
#pragma once

#include <cstddef>
#include <optional>

#include "../design/design.hpp"
#include "../error.hpp"
#include "../family/family.hpp"
#include "../outer/outer_newton.hpp"
#include "../score/score_context.hpp"
#include "../score/shape_aware.hpp"
#include "fitted_gam.hpp"

namespace krelm {

/// The checks of the shape-aware families, in order: rows of x against y, weight length,
/// the family's starting parameters (θ; φ; ν then σ²), the response domain (y ≥ 0 for
/// NegBin and Tweedie), exactly one penalty, then finite y and valid weights.
/// Errors: InvalidParameter with the message users see.
[[nodiscard]] Expected<void> check_shape_aware_data(const Family& family, std::size_t x_rows,
                                                    const VectorRef& y,
                                                    const std::optional<Vector>& prior_weights,
                                                    std::size_t penalty_count);

/// ϑ₀: (0, ln θ) for NegBin, (0, ln φ, ln((p − 1)/(2 − p))) for Tweedie, (0, ln σ², ln(ν − 2))
/// for TDist, from the family's starting parameters.
[[nodiscard]] Vector shape_start_vector(const Family& family);

/// Fits NegBin, TDist or Tweedie on the single-smooth design (consumed) from ϑ₀ = `start`,
/// taking ownership of y and the weights; the inputs are expected to have passed
/// check_shape_aware_data (the driver repeats the checks that do not need the starting
/// parameters). Errors: InvalidParameter, the first score evaluation's or the final
/// fit's error, or NotConverged after 50 accepted steps.
[[nodiscard]] Expected<FittedGam> fit_shape_aware(FamilyKind kind, Design design,
                                                  std::size_t x_rows, Vector y,
                                                  std::optional<Vector> prior_weights,
                                                  const Vector& start,
                                                  const IterationHook& between_iterations = {});

/// The outcome of the joint search: the outer result and the final fit at ϑ̂.
struct JointFit {
  OuterResult outer;
  InnerFit fit;
};

/// outer_newton on ϑ from `start` with shape_score_with_hessian, then the family's fit at
/// ϑ̂. Errors: the first evaluation's, NotConverged, or the final fit's.
[[nodiscard]] Expected<JointFit> run_joint_search(const ScoreContext& context,
                                                  const ShapeFamily& family, const Vector& start,
                                                  const IterationHook& between_iterations);

/// The record of a joint fit: ρ = ϑ̂₁, shape_params = the rest of ϑ̂, vcov = scale·A⁻¹,
/// converged only when the outer search, the final fit and every reported number agree.
[[nodiscard]] FittedGam joint_fit_record(const ScoreContext& context, JointFit&& joint,
                                         double scale, LinkKind link_kind, std::size_t x_rows,
                                         Predictor&& predictor);

}  // namespace krelm
