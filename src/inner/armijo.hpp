// The inner solver of the extended log-F quantile family: Newton steps on β for the
// penalised objective Σ_i d(y_i, η_i) + βᵀS_λβ, each damped by a backtracking line search.
// The loss pieces live in family/elf; choosing ρ, σ and λ is left to the quantile driver.
#pragma once

#include <cstddef>
#include <vector>

#include "../error.hpp"
#include "../family/elf.hpp"
#include "../matrix.hpp"
#include "inner_fit.hpp"

namespace krelm {

/// Ridge of the Newton system: δ = 1e-7·max(1, max_j |H_jj|). Larger than the PIRLS ridge
/// because the ELF weights vanish for residuals far out in the tails, leaving XᵀWX close
/// to singular in unpenalised directions.
constexpr double elf_ridge_factor = 1e-7;
/// Absolute slack of the line search's non-increase test.
constexpr double elf_objective_slack = 1e-10;

/// Borrowed fixed inputs of one Armijo fit; they outlive the call. Prior weights play no
/// part in this solver.
struct ElfProblem {
  const std::vector<RowMatrix>& penalties;  ///< S_1..S_m, p × p
  const RowMatrix& x;                       ///< n × p
  const Vector& y;                          ///< length n
  ElfConstants elf;                         ///< τ, σ, λ
  std::size_t max_iter = 50;                ///< Newton iteration cap
  double tol = 1e-7;                        ///< on the largest coefficient change
  std::size_t max_halvings = 20;            ///< line-search trials per iteration
  const Vector* start_beta = nullptr;       ///< length p; null means β = 0
};

/// Σ_i d(y_i, (Xβ)_i) + βᵀS_λβ; +∞ as soon as one d_i is not finite.
[[nodiscard]] double elf_objective(const ElfProblem& problem, const RowMatrix& penalty,
                                   const Vector& beta);

/// Minimises the penalised ELF objective at ρ. Reaching the iteration cap (or a cap of 0)
/// returns converged = false; a line search whose every trial is rejected keeps the current
/// β and returns converged = true. Errors: InvalidParameter "ELF τ must be in (0, 1); got
/// {tau}" or "ELF σ and λ must be > 0; got σ={sigma} λ={lambda}"; SingularSystem
/// "ELF Cholesky: {error}" during the iterations or "Cholesky failed: {error}" at the end.
[[nodiscard]] Expected<InnerFit> elf_newton_fit(const ElfProblem& problem, const Vector& rho);

}  // namespace krelm
