// The tensor-product term of two cubic regression spline margins: row-wise product basis,
// one penalty per margin direction, sum-to-zero centring. It only exists inside additive
// designs.
#pragma once

#include <cstddef>

#include "../error.hpp"
#include "../matrix.hpp"
#include "predictor.hpp"

namespace krelm {

/// One centred tensor term, K = k_a·k_b.
struct TensorTerm {
  RowMatrix basis;            ///< X_te = T·Z, n × (K−1)
  RowMatrix penalty_a;        ///< Zᵀ·(S̃_a ⊗ I_{k_b})·Z, (K−1) × (K−1)
  RowMatrix penalty_b;        ///< Zᵀ·(I_{k_a} ⊗ S̃_b)·Z, (K−1) × (K−1)
  TensorPredictor predictor;  ///< identity xp_a, xp_b
};

/// S divided by its largest eigenvalue (unchanged when that is ≤ 0), so margins of any units
/// get comparable penalties. Error: Linalg "eigh failed in tensor penalty rescale: {detail}".
[[nodiscard]] Expected<RowMatrix> rescale_margin_penalty(const RowMatrix& penalty);

/// n × (a·b) row-wise Kronecker product: entry (r, i·b + j) = A[r][i]·B[r][j], so A's index is
/// the slow one. A and B must have the same rows.
[[nodiscard]] RowMatrix row_tensor_product(const RowMatrix& a, const RowMatrix& b);

/// The centred tensor term of columns col_a and col_b of x (both < d is the caller's duty).
/// Errors: InvalidParameter "Tensor term must have distinct margin columns (got col_a == col_b
/// == {col})"; knot-placement errors of margin a, then of margin b; those of
/// rescale_margin_penalty.
[[nodiscard]] Expected<TensorTerm> build_tensor_term(const MatrixRef& x, std::size_t col_a,
                                                     std::size_t col_b, std::size_t k_a,
                                                     std::size_t k_b);

}  // namespace krelm
