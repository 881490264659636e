// Inference quantities derived once from the final inner fit: effective degrees of
// freedom, the Gaussian scale and the posterior covariance.
#pragma once

#include <vector>

#include "../matrix.hpp"

namespace krelm {

/// tr(A⁻¹XᵀWX) for the given A⁻¹.
[[nodiscard]] double edf_total(const RowMatrix& x, const Vector& working_weights,
                               const RowMatrix& inverse);

/// edf_j = c_j − λ_j·tr(A⁻¹S_j), c_j the rows of S_j with a non-zero (or NaN) entry.
[[nodiscard]] Vector edf_per_penalty(const std::vector<RowMatrix>& penalties, const Vector& rho,
                                     const RowMatrix& inverse);

/// (D + Σ_j λ_j·β̂ᵀS_jβ̂)/(n − M_p), NaN when n − M_p ≤ 0.
[[nodiscard]] double gaussian_scale(double deviance, const std::vector<RowMatrix>& penalties,
                                    const Vector& rho, const Vector& beta, double n,
                                    double null_space_dim);

/// scale·A⁻¹, or A⁻¹ unchanged when scale − 1 is exactly 0 or NaN.
[[nodiscard]] RowMatrix posterior_covariance(const RowMatrix& inverse, double scale);

}  // namespace krelm
