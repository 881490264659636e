// The quantile fit driver: a penalised least-squares warm start shifted to the τ-quantile of
// its residuals, automatic choice of the ELF scale σ and bandwidth λ_E, the outer Newton
// search on the Laplace score with Armijo inner fits, and the post-fit quantities.
#pragma once

#include <cstddef>
#include <optional>

#include "../design/design.hpp"
#include "../error.hpp"
#include "../family/elf.hpp"
#include "../matrix.hpp"
#include "../outer/outer_newton.hpp"
#include "../score/score_context.hpp"
#include "../score/score_eval.hpp"
#include "fitted_gam.hpp"

namespace krelm {

/// Floor of the mean squared residual in the σ rule, so a perfect fit still gives σ > 0.
constexpr double elf_residual_floor = 1e-6;

struct ElfWarmStart {
  Vector beta;                         ///< β₀ = β_LS + A₀⁻¹Xᵀ(q·1), length p
  double mean_squared_residual = 0.0;  ///< Σ r_i² / max(n, 1) of the least-squares fit
};

/// Unweighted penalised least squares at λ = 1 (A₀ = XᵀX + S), its intercept-direction shift
/// to the τ-quantile q of the residuals (the ⌊(n − 1)·τ⌉-th smallest, 0-based) and the mean
/// squared residual. Error: SingularSystem "ELF warm-start Cholesky: {error}".
[[nodiscard]] Expected<ElfWarmStart> elf_warm_start(const RowMatrix& x, const RowMatrix& penalty,
                                                    const Vector& y, double tau);

struct ElfTuning {
  double sigma = 0.0;
  double lambda = 0.0;
};

/// σ = 0.05·√(2π·max(m, 1e-6))/ln 4 · max(1/(4τ(1 − τ)), 1) when the given σ is not > 0, and
/// λ_E = σ (tuned or given) when the given λ_E is not > 0; values > 0 are kept unchanged.
[[nodiscard]] ElfTuning auto_tune_elf(double mean_squared_residual, double tau, double sigma,
                                      double lambda);

/// What an ELF score evaluation reads: the model data, the family constants after tuning
/// and the warm start every inner fit begins from.
struct ElfScoreContext {
  ScoreContext data;
  ElfConstants elf;
  Vector warm_start;
};

/// (V, g) at ρ from one Armijo fit: the Laplace score with φ = 1 and the ELF saturated
/// log-likelihood n·ℓ_E. Errors: the inner fit's.
[[nodiscard]] Expected<ValueAndGradient> elf_laml_score(const ElfScoreContext& context,
                                                        const Vector& rho);

/// elf_laml_score with its Hessian by central differences of the gradient (step 1e-5).
[[nodiscard]] Expected<ScoreEval> elf_score_with_hessian(const ElfScoreContext& context,
                                                         const Vector& rho);

/// The data checks of fit_quantile alone, in their order: rows against y, weight length,
/// exactly one penalty ("ELF/quantile is restricted to single-smooth fits in 94b; got {m}
/// terms"), finite y, finite non-negative weights.
[[nodiscard]] Expected<void> check_quantile_data(std::size_t x_rows, const VectorRef& y,
                                                 const std::optional<Vector>& prior_weights,
                                                 std::size_t penalty_count);

/// Fits the τ-quantile on the single-smooth design (consumed); σ or λ_E not > 0 are chosen
/// automatically. The prior weights are checked but do not enter the ELF fit. `scale` is
/// the tuned σ. Errors: InvalidParameter for bad data, SingularSystem from the warm start,
/// then the score's or the final fit's errors, or NotConverged.
[[nodiscard]] Expected<FittedGam> fit_quantile(double tau, double sigma, double lambda,
                                               Design design, std::size_t x_rows, Vector y,
                                               std::optional<Vector> prior_weights,
                                               const IterationHook& between_iterations = {});

}  // namespace krelm
