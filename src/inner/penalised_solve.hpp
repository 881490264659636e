// The linear-algebra step shared by every inner fit: the penalised normal equations
// (XᵀWX + S_λ)·β = XᵀWz.
#pragma once

#include "../error.hpp"
#include "../matrix.hpp"

namespace krelm {

/// Ridge added to a penalised Hessian before the solve: 1e-12·max(1, max_i |A_ii|).
constexpr double solve_ridge_factor = 1e-12;

struct CholeskySolution {
  RowMatrix lower;  ///< factor of A exactly as given (no ridge)
  Vector beta;      ///< solution of (A + δI)·β = b
};

/// Factors A (which must be numerically positive definite: the unridged factor comes first)
/// and solves the ridged system. Error: SingularSystem "Cholesky failed: {lapack text}".
[[nodiscard]] Expected<CholeskySolution> penalised_cholesky_solve(const RowMatrix& matrix,
                                                                  const Vector& rhs);

/// Copies `matrix`, adds δ = factor·max(1, max_i |A_ii|) to its diagonal and factors it.
/// Error: Linalg with the LAPACK text.
[[nodiscard]] Expected<RowMatrix> ridged_cholesky(const RowMatrix& matrix, double ridge_factor);

}  // namespace krelm
