// Small dense linear-algebra helpers over LAPACK: Cholesky, LU solve, symmetric
// eigen-decomposition and triangular solves. Each LAPACK call has one wrapper that turns
// `info` into an error value whose message is the LAPACK text users see inside
// messages such as "Cholesky failed: {error}".
#pragma once

#include <string>

#include "error.hpp"
#include "matrix.hpp"

namespace krelm {

/// "Computational failure in LAPACK subroutine: return_code = {info}" for info > 0,
/// "Invalid value for LAPACK subroutine {-info}-th argument" for info < 0.
[[nodiscard]] std::string lapack_failure_text(int info);

/// Overwrites the symmetric matrix with its lower Cholesky factor L (L·Lᵀ = A), strict
/// upper triangle zeroed. Reads the lower triangle. Error: Linalg with the LAPACK text.
[[nodiscard]] Expected<void> factor_cholesky_in_place(RowMatrix& matrix);

/// δ = 1e-12·max(1, max_i |A_ii|) style ridges: max(1, largest |diagonal|), NaNs ignored.
[[nodiscard]] double largest_abs_diagonal_or_one(const RowMatrix& matrix);

/// Solves L·Lᵀ·x = b in place with plain forward then back substitution.
void cholesky_solve_in_place(const RowMatrix& lower, Eigen::Ref<Vector> rhs);

/// Solves L·u = b in place (forward substitution only).
void forward_substitute_in_place(const RowMatrix& lower, Eigen::Ref<Vector> rhs);

struct SymmetricEigen {
  Vector values;      ///< ascending
  RowMatrix vectors;  ///< column c is the unit eigenvector of values[c]
};

/// Eigen-decomposition of a symmetric matrix with eigenvectors (dsyev, upper triangle of
/// the matrix as LAPACK's column-major view sees it). Error: Linalg with the LAPACK text.
[[nodiscard]] Expected<SymmetricEigen> symmetric_eigen(const RowMatrix& matrix);

/// Solves A·x = b by LU with partial pivoting (dgetrf + dgetrs). Error: Linalg.
[[nodiscard]] Expected<Vector> lu_solve(const RowMatrix& matrix, const Vector& rhs);

}  // namespace krelm
