// Outer Newton iteration. Failed trial evaluations only shorten the step.
#include "outer_newton.hpp"

#include <cmath>
#include <limits>
#include <optional>

#include "../linalg.hpp"

namespace krelm {

namespace {

constexpr double gradient_tolerance = 5e-7;
constexpr double relative_change_tolerance = 1e-7;
constexpr double stalled_gradient_tolerance = 0.001;
constexpr double sufficient_decrease = 1e-10;
constexpr double smallest_step_fraction = 0.001;
constexpr int max_line_search_trials = 20;

// max_i |g_i|, propagating NaN.
double infinity_norm(const Vector& gradient) {
  double largest = 0.0;
  for (const double entry : gradient) {
    if (std::isnan(entry)) {
      return std::numeric_limits<double>::quiet_NaN();
    }
    largest = std::max(largest, std::abs(entry));
  }
  return largest;
}

Vector newton_direction(const RowMatrix& hessian, const Vector& gradient) {
  const RowMatrix repaired = repair_hessian(hessian);
  auto step = lu_solve(repaired, -gradient);
  Vector direction = step ? *std::move(step) : Vector(-gradient);
  double largest = 0.0;
  bool has_nan = false;
  for (const double entry : direction) {
    has_nan = has_nan || std::isnan(entry);
    largest = std::max(largest, std::abs(entry));
  }
  if (!has_nan && largest > max_step_component) {
    direction *= max_step_component / largest;
  }
  return direction;
}

}  // namespace

RowMatrix repair_hessian(const RowMatrix& hessian) {
  const auto m = hessian.rows();
  if (m == 0) {
    return hessian;
  }
  if (m == 1) {
    RowMatrix repaired = hessian;
    if (!std::isnan(repaired(0, 0))) {
      repaired(0, 0) = std::max(repaired(0, 0), curvature_floor);
    }
    return repaired;
  }
  RowMatrix symmetric = hessian;
  for (Eigen::Index i = 0; i < m; ++i) {
    for (Eigen::Index j = i + 1; j < m; ++j) {
      const double mean = (symmetric(i, j) + symmetric(j, i)) / 2.0;
      symmetric(i, j) = mean;
      symmetric(j, i) = mean;
    }
  }
  auto eigen = symmetric_eigen(symmetric);
  if (!eigen) {
    for (Eigen::Index i = 0; i < m; ++i) {
      if (!(symmetric(i, i) >= curvature_floor)) {
        symmetric(i, i) = curvature_floor;
      }
    }
    return symmetric;
  }
  RowMatrix repaired = RowMatrix::Zero(m, m);
  for (Eigen::Index l = 0; l < m; ++l) {
    const double value = eigen->values(l);
    const double floored = value > curvature_floor ? value : curvature_floor;  // NaN → floor
    repaired.noalias() += floored * eigen->vectors.col(l) * eigen->vectors.col(l).transpose();
  }
  return repaired;
}

Expected<OuterResult> outer_newton(const ScoreFunction& score, const Vector& rho0,
                                   const IterationHook& between_iterations) {
  auto first = score(rho0);
  if (!first) {
    return std::unexpected(std::move(first.error()));
  }
  Vector rho = rho0;
  ScoreEval current = *std::move(first);
  double previous_value = std::numeric_limits<double>::infinity();
  std::size_t iters = 0;
  while (true) {
    const double grad_norm = infinity_norm(current.gradient);
    const double value = current.value;
    if (grad_norm < gradient_tolerance * (std::abs(value) + 1.0)) {
      return OuterResult{rho, value, grad_norm, iters, true};
    }
    if (iters >= 3 && std::abs(value - previous_value) / std::max(std::abs(value), 1.0) <
                          relative_change_tolerance) {
      return OuterResult{rho, value, grad_norm, iters, true};
    }
    if (between_iterations) {
      between_iterations();
    }
    const Vector direction = newton_direction(current.hessian, current.gradient);
    ++iters;
    double step_fraction = 1.0;
    std::optional<ScoreEval> accepted;
    Vector trial_rho;
    for (int trial = 0; trial < max_line_search_trials; ++trial) {
      trial_rho = rho + step_fraction * direction;
      auto evaluated = score(trial_rho);
      if (evaluated && std::isfinite(evaluated->value) &&
          evaluated->value < value - sufficient_decrease * std::abs(value)) {
        accepted = *std::move(evaluated);
        break;
      }
      step_fraction /= 2.0;
      if (step_fraction < smallest_step_fraction) {
        break;
      }
    }
    if (!accepted) {
      const bool converged = grad_norm < stalled_gradient_tolerance * (std::abs(value) + 1.0);
      return OuterResult{rho, value, grad_norm, iters, converged};
    }
    previous_value = value;
    rho = std::move(trial_rho);
    current = *std::move(accepted);
    if (iters == max_outer_iterations) {
      return std::unexpected(not_converged(iters, infinity_norm(current.gradient)));
    }
  }
}

}  // namespace krelm
