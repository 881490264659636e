// The Newton iteration on log smoothing parameters (and transformed shape parameters)
// shared by every fit driver: repaired Hessian, capped step, backtracking.
#pragma once

#include <cstddef>
#include <functional>

#include "../error.hpp"
#include "../matrix.hpp"
#include "../score/score_eval.hpp"

namespace krelm {

using ScoreFunction = std::function<Expected<ScoreEval>(const Vector&)>;

/// Called between outer iterations; may throw to abandon the fit (a pending interrupt).
using IterationHook = std::function<void()>;

struct OuterResult {
  Vector rho;
  double value = 0.0;
  double grad_norm = 0.0;
  std::size_t iters = 0;
  bool converged = false;
};

/// Accepted steps before the search gives up with NotConverged.
constexpr std::size_t max_outer_iterations = 50;
/// Largest component of a Newton step.
constexpr double max_step_component = 5.0;
/// Curvature floor of the repaired Hessian.
constexpr double curvature_floor = 1e-8;

/// Minimises the score from ρ₀. Errors: the first evaluation's error, or NotConverged
/// {50, max|g|} after 50 accepted steps.
[[nodiscard]] Expected<OuterResult> outer_newton(const ScoreFunction& score, const Vector& rho0,
                                                 const IterationHook& between_iterations = {});

/// Symmetric positive-definite repair: eigenvalues floored at 1e-8.
[[nodiscard]] RowMatrix repair_hessian(const RowMatrix& hessian);

}  // namespace krelm
