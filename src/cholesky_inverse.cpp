// Inverse and traces through a Cholesky factor.
#include "cholesky_inverse.hpp"

#include <cmath>

#include "linalg.hpp"

namespace krelm {

RowMatrix inverse_from_cholesky(const RowMatrix& lower) {
  const auto p = lower.rows();
  RowMatrix inverse(p, p);
  Vector column(p);
  for (Eigen::Index i = 0; i < p; ++i) {
    column.setZero();
    column(i) = 1.0;
    cholesky_solve_in_place(lower, column);
    inverse.col(i) = column;
  }
  return inverse;
}

double cholesky_log_det(const RowMatrix& lower) {
  double sum = 0.0;
  for (Eigen::Index i = 0; i < lower.rows(); ++i) {
    sum += std::log(lower(i, i));
  }
  return 2.0 * sum;
}

double trace_of_product(const RowMatrix& inverse, const RowMatrix& matrix) {
  return inverse.cwiseProduct(matrix).sum();
}

double trace_with_inverse(const RowMatrix& lower, const RowMatrix& matrix) {
  return trace_of_product(inverse_from_cholesky(lower), matrix);
}

}  // namespace krelm
