// Penalised iteratively re-weighted least squares: for fixed smoothing parameters (and
// fixed family parameters) minimises D(β) + βᵀS_λβ for every PIRLS family.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "../error.hpp"
#include "../family/glm_family.hpp"
#include "../matrix.hpp"
#include "inner_data.hpp"
#include "inner_fit.hpp"

namespace krelm {

struct PirlsSettings {
  std::size_t max_iter = 50;
  double tol = 1e-9;
};

/// Most step halvings per iteration before the previous iterate is kept.
constexpr int max_step_halvings = 100;

/// PIRLS at ρ. Reaching the cap or exhausting the halvings returns converged = false.
/// Error: SingularSystem "PIRLS factor: Cholesky failed: …" or "Cholesky failed: …".
[[nodiscard]] Expected<InnerFit> pirls(const InnerData& data, const PirlsFamily& family,
                                       const Vector& rho, const PirlsSettings& settings,
                                       const Vector* start_eta = nullptr);

/// PIRLS on a finished penalty sum S_λ (the inverse-Gaussian score forms S_λ itself).
[[nodiscard]] Expected<InnerFit> pirls_with_penalty(const InnerData& data,
                                                    const PirlsFamily& family,
                                                    const RowMatrix& penalty,
                                                    const PirlsSettings& settings,
                                                    const Vector* start_eta = nullptr);

}  // namespace krelm
