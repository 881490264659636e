// A⁻¹ and tr(A⁻¹M) from a Cholesky factor L (A = L·Lᵀ), for the score and post-fit
// inference.
#pragma once

#include "matrix.hpp"

namespace krelm {

/// A⁻¹, column i solving A·c = e_i by forward then back substitution with L.
[[nodiscard]] RowMatrix inverse_from_cholesky(const RowMatrix& lower);

/// log det A = 2·Σ_i ln L_ii, summed in order.
[[nodiscard]] double cholesky_log_det(const RowMatrix& lower);

/// tr(A⁻¹·M) = Σ_ij (A⁻¹)_ij·M_ij for a given A⁻¹.
[[nodiscard]] double trace_of_product(const RowMatrix& inverse, const RowMatrix& matrix);

/// tr(A⁻¹·M) from the factor (forms A⁻¹ once).
[[nodiscard]] double trace_with_inverse(const RowMatrix& lower, const RowMatrix& matrix);

}  // namespace krelm
