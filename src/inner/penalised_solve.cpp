// Penalised Cholesky solve: factor A itself first so a matrix that is not numerically
// positive definite is rejected even if its ridged copy would factor.
#include "penalised_solve.hpp"

#include "../linalg.hpp"

namespace krelm {

Expected<RowMatrix> ridged_cholesky(const RowMatrix& matrix, double ridge_factor) {
  const double ridge = ridge_factor * largest_abs_diagonal_or_one(matrix);
  RowMatrix ridged = matrix;
  ridged.diagonal().array() += ridge;
  if (auto factored = factor_cholesky_in_place(ridged); !factored) {
    return std::unexpected(std::move(factored.error()));
  }
  return ridged;
}

Expected<CholeskySolution> penalised_cholesky_solve(const RowMatrix& matrix, const Vector& rhs) {
  RowMatrix lower = matrix;
  if (auto factored = factor_cholesky_in_place(lower); !factored) {
    return std::unexpected(singular_system("Cholesky failed: " + error_message(factored.error())));
  }
  auto ridged = ridged_cholesky(matrix, solve_ridge_factor);
  if (!ridged) {
    return std::unexpected(singular_system("Cholesky failed: " + error_message(ridged.error())));
  }
  Vector beta = rhs;
  cholesky_solve_in_place(*ridged, beta);
  return CholeskySolution{std::move(lower), std::move(beta)};
}

}  // namespace krelm
