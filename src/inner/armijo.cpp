// Armijo-damped Newton iteration for the ELF family. The line search accepts any trial that
// does not raise the objective by more than an absolute slack; it has no sufficient-decrease
// term, so a step that merely holds the objective still moves β.
#include "armijo.hpp"

#include <cmath>

#include "../design/design.hpp"
#include "../family/family.hpp"
#include "../format.hpp"
#include "../linalg.hpp"
#include "../products.hpp"
#include "../work_counters.hpp"
#include "penalised_solve.hpp"

namespace krelm {

namespace {

Expected<void> check_elf_constants(const ElfConstants& elf) {
  // Written so that a NaN τ passes this test (the iteration then yields NaN values) while
  // a NaN σ or λ fails the next one.
  if (elf.tau <= 0.0 || elf.tau >= 1.0) {
    return std::unexpected(
        invalid_parameter("ELF τ must be in (0, 1); got " + format_float(elf.tau)));
  }
  if (!(elf.sigma > 0.0) || !(elf.lambda > 0.0)) {
    return std::unexpected(
        invalid_parameter("ELF σ and λ must be > 0; got σ=" + format_float(elf.sigma) +
                          " λ=" + format_float(elf.lambda)));
  }
  return {};
}

/// max_j |a_j − b_j|, NaN differences ignored.
double largest_change(const Vector& a, const Vector& b) {
  double largest = 0.0;
  for (Eigen::Index j = 0; j < a.size(); ++j) {
    const double change = std::abs(a(j) - b(j));
    if (change > largest) {  // a NaN never wins
      largest = change;
    }
  }
  return largest;
}

/// Per-observation quantities of one Newton step, reused across iterations.
struct NewtonWorkspace {
  Vector eta;
  Vector gradient;
  Vector weights;
  Vector response;
};

/// The Newton target β̃ = (XᵀWX + S_λ + δI)⁻¹ Xᵀ(W∘η + g) at the current β.
Expected<Vector> newton_target(const ElfProblem& problem, const RowMatrix& penalty,
                               const Vector& beta, NewtonWorkspace& work) {
  design_times_into(problem.x, beta, work.eta);
  elf_newton_terms(problem.y, work.eta, problem.elf, work.gradient, work.weights, work.response);
  const RowMatrix hessian = weighted_gram(problem.x, as_span(work.weights)) + penalty;
  // b = Xᵀ(W∘η + g): equal to XᵀWz wherever W > 1e-12, and it keeps the pull of the
  // observations whose weight has underflowed.
  const Vector rhs_values = work.weights.cwiseProduct(work.eta) + work.gradient;
  Vector target = weighted_cross_product(problem.x, {}, as_span(rhs_values));
  auto factor = ridged_cholesky(hessian, elf_ridge_factor);
  if (!factor) {
    return std::unexpected(singular_system(std::string(display_name(FamilyKind::Elf)) +
                                           " Cholesky: " + error_message(factor.error())));
  }
  cholesky_solve_in_place(*factor, target);
  return target;
}

Expected<InnerFit> finalise(const ElfProblem& problem, const RowMatrix& penalty, Vector&& beta,
                            std::size_t n_iter, bool converged) {
  InnerFit fit;
  fit.eta = design_times(problem.x, beta);
  Vector gradient;
  elf_newton_terms(problem.y, fit.eta, problem.elf, gradient, fit.working_weights,
                   fit.working_response);
  double deviance = 0.0;
  for (Eigen::Index i = 0; i < problem.y.size(); ++i) {
    deviance += elf_unit_deviance(problem.y(i), fit.eta(i), problem.elf);
  }
  const RowMatrix hessian = weighted_gram(problem.x, as_span(fit.working_weights)) + penalty;
  auto factor = ridged_cholesky(hessian, elf_ridge_factor);
  if (!factor) {
    return std::unexpected(singular_system("Cholesky failed: " + error_message(factor.error())));
  }
  fit.chol_factor = std::move(*factor);
  fit.beta = std::move(beta);
  fit.mu = fit.eta;  // identity link
  fit.deviance = deviance;
  fit.pearson = deviance;
  fit.n = static_cast<std::size_t>(problem.x.rows());
  fit.p = static_cast<std::size_t>(problem.x.cols());
  fit.n_iter = n_iter;
  fit.converged = converged;
  return fit;
}

}  // namespace

double elf_objective(const ElfProblem& problem, const RowMatrix& penalty, const Vector& beta) {
  const Vector eta = design_times(problem.x, beta);
  const ElfConstants& elf = problem.elf;
  return elf_deviance_sum(problem.y, eta, elf.tau, elf.sigma, elf.lambda) +
         beta.dot(penalty * beta);
}

Expected<InnerFit> elf_newton_fit(const ElfProblem& problem, const Vector& rho) {
  if (auto valid = check_elf_constants(problem.elf); !valid) {
    return std::unexpected(std::move(valid.error()));
  }
  count(work_counters().inner_fits);
  const RowMatrix penalty = penalty_sum(problem.penalties, rho);
  Vector beta =
      problem.start_beta != nullptr ? *problem.start_beta : Vector(Vector::Zero(problem.x.cols()));
  double objective = elf_objective(problem, penalty, beta);

  NewtonWorkspace work;
  for (std::size_t iteration = 0; iteration < problem.max_iter; ++iteration) {
    count(work_counters().inner_iterations);
    auto target = newton_target(problem, penalty, beta, work);
    if (!target) {
      return std::unexpected(std::move(target.error()));
    }
    const Vector direction = *target - beta;
    double step_fraction = 1.0;
    bool accepted = false;
    Vector trial;
    double trial_objective = 0.0;
    for (std::size_t halving = 0; halving < problem.max_halvings; ++halving) {
      trial = beta + step_fraction * direction;
      trial_objective = elf_objective(problem, penalty, trial);
      if (std::isfinite(trial_objective) && trial_objective <= objective + elf_objective_slack) {
        accepted = true;
        break;
      }
      step_fraction /= 2.0;
    }
    if (!accepted) {
      // No trial along the direction lowers the objective: β is as good as this
      // direction allows, which counts as converged.
      return finalise(problem, penalty, std::move(beta), iteration + 1, true);
    }
    const double change = largest_change(trial, beta);
    beta = std::move(trial);
    objective = trial_objective;
    if (change < problem.tol) {
      return finalise(problem, penalty, std::move(beta), iteration + 1, true);
    }
  }
  return finalise(problem, penalty, std::move(beta), problem.max_iter, false);
}

}  // namespace krelm
