// The sum-to-zero identifiability constraint of a smooth next to an intercept, and the
// penalty scaling applied before it. The basis itself lives in basis/cr_basis.
#pragma once

#include "../matrix.hpp"

namespace krelm {

/// φ·S with φ = ‖X_raw‖∞² / ‖S‖∞ (largest absolute row sums), or φ = 1 when ‖S‖∞ = 0, so that
/// the penalty is on the scale of XᵀX. Both norms are of the raw (uncentred) matrices.
[[nodiscard]] RowMatrix scale_penalty(const RowMatrix& raw_basis, const RowMatrix& penalty);

/// g with g_l = Σ_r X[r][l], summed in row order: the sum-to-zero constraint vector.
[[nodiscard]] Vector column_sums(const RowMatrix& matrix);

/// Z, K × (K−1) with orthonormal columns and gᵀZ = 0 (K = length of g ≥ 1): columns 1 … K−1
/// of the Householder reflector that maps g onto the first axis. A g of norm below machine
/// epsilon gives [I_{K−1}; 0ᵀ].
[[nodiscard]] RowMatrix centring_from_constraint(const Vector& g);

}  // namespace krelm
