// Products whose cost grows with n, done by BLAS: the weighted Gram matrix XᵀWX, the
// weighted cross-product XᵀWz and the fitted values Xβ. X is our own contiguous
// row-major model matrix.
#pragma once

#include <span>

#include "matrix.hpp"

namespace krelm {

/// XᵀWX (p × p, full symmetric) for weights of any sign; W = I when `weights` is empty.
/// Works through row blocks so the scratch stays small whatever n is.
[[nodiscard]] RowMatrix weighted_gram(const RowMatrix& x, std::span<const double> weights);

/// Xᵀ(w∘v) (length p); w = 1 when `weights` is empty.
[[nodiscard]] Vector weighted_cross_product(const RowMatrix& x, std::span<const double> weights,
                                            std::span<const double> values);

/// Σ_i w_i·(y_i − x_iᵀβ)² in row order, without storing Xβ (block by block, so the
/// fitted values never leave the cache); w = 1 when `weights` is empty.
[[nodiscard]] double weighted_residual_sum_of_squares(const RowMatrix& x, const Vector& beta,
                                                      const Vector& y,
                                                      std::span<const double> weights);

/// Xβ (length n).
[[nodiscard]] Vector design_times(const RowMatrix& x, const Vector& beta);

/// Writes Xβ into `eta_out` (length n), reusing its storage.
void design_times_into(const RowMatrix& x, const Vector& beta, Vector& eta_out);

/// Runs BLAS on the calling thread only. Our products work on row blocks of a few thousand
/// rows, where BLAS's own threads cost more than they give, and they serialise fits that
/// Python threads run side by side.
void use_calling_thread_for_blas();

inline std::span<const double> as_span(const Vector& v) {
  return {v.data(), static_cast<std::size_t>(v.size())};
}

}  // namespace krelm
