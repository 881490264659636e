// LAPACK wrappers. Our buffers are row-major, so LAPACK sees the transpose: for a
// symmetric matrix we ask for the opposite triangle, for a general solve we pass 'T'.
#include "linalg.hpp"

#include <cmath>
#include <vector>

#include "lapack.hpp"

namespace krelm {

std::string lapack_failure_text(int info) {
  if (info > 0) {
    return "Computational failure in LAPACK subroutine: return_code = " + std::to_string(info);
  }
  return "Invalid value for LAPACK subroutine " + std::to_string(-info) + "-th argument";
}

Expected<void> factor_cholesky_in_place(RowMatrix& matrix) {
  const char upper = 'U';  // LAPACK reads our row-major buffer transposed: its 'U' is our lower
  const int order = static_cast<int>(matrix.rows());
  const int leading_dimension = std::max(1, order);
  int info = 0;
  if (order > 0) {
    dpotrf_(&upper, &order, matrix.data(), &leading_dimension, &info);
  }
  if (info != 0) {
    return std::unexpected(linalg_error(lapack_failure_text(info)));
  }
  matrix.triangularView<Eigen::StrictlyUpper>().setZero();
  return {};
}

double largest_abs_diagonal_or_one(const RowMatrix& matrix) {
  double largest = 1.0;
  for (Eigen::Index i = 0; i < matrix.rows(); ++i) {
    const double entry = std::abs(matrix(i, i));
    if (entry > largest) {  // a NaN never wins
      largest = entry;
    }
  }
  return largest;
}

void forward_substitute_in_place(const RowMatrix& lower, Eigen::Ref<Vector> rhs) {
  const Eigen::Index order = lower.rows();
  for (Eigen::Index i = 0; i < order; ++i) {
    double sum = rhs(i);
    for (Eigen::Index j = 0; j < i; ++j) {
      sum -= lower(i, j) * rhs(j);
    }
    rhs(i) = sum / lower(i, i);
  }
}

void cholesky_solve_in_place(const RowMatrix& lower, Eigen::Ref<Vector> rhs) {
  forward_substitute_in_place(lower, rhs);
  const Eigen::Index order = lower.rows();
  for (Eigen::Index i = order - 1; i >= 0; --i) {
    double sum = rhs(i);
    for (Eigen::Index j = i + 1; j < order; ++j) {
      sum -= lower(j, i) * rhs(j);
    }
    rhs(i) = sum / lower(i, i);
  }
}

Expected<SymmetricEigen> symmetric_eigen(const RowMatrix& matrix) {
  const int order = static_cast<int>(matrix.rows());
  SymmetricEigen result{Vector(order), RowMatrix(order, order)};
  if (order == 0) {
    return result;
  }
  // LAPACK overwrites its input with eigenvectors stored column by column; in our
  // row-major buffer they appear as rows, so the result is transposed at the end.
  RowMatrix work_matrix = matrix;
  const char jobz = 'V';
  const char lower = 'L';  // LAPACK's 'L' on the transposed buffer is our upper triangle
  const int leading_dimension = order;
  int info = 0;
  double optimal_work = 0.0;
  const int query = -1;
  dsyev_(&jobz, &lower, &order, work_matrix.data(), &leading_dimension, result.values.data(),
         &optimal_work, &query, &info);
  if (info != 0) {
    return std::unexpected(linalg_error(lapack_failure_text(info)));
  }
  const int work_size = std::max(1, static_cast<int>(optimal_work));
  std::vector<double> workspace(static_cast<std::size_t>(work_size));
  dsyev_(&jobz, &lower, &order, work_matrix.data(), &leading_dimension, result.values.data(),
         workspace.data(), &work_size, &info);
  if (info != 0) {
    return std::unexpected(linalg_error(lapack_failure_text(info)));
  }
  result.vectors = work_matrix.transpose();
  return result;
}

Expected<Vector> lu_solve(const RowMatrix& matrix, const Vector& rhs) {
  const int order = static_cast<int>(matrix.rows());
  if (order == 0) {
    return Vector(0);
  }
  RowMatrix factors = matrix;
  std::vector<int> pivots(static_cast<std::size_t>(order));
  const int leading_dimension = order;
  int info = 0;
  dgetrf_(&order, &order, factors.data(), &leading_dimension, pivots.data(), &info);
  if (info != 0) {
    return std::unexpected(linalg_error(lapack_failure_text(info)));
  }
  Vector solution = rhs;
  const char transposed = 'T';  // LAPACK factored Aᵀ (our row-major buffer)
  const int one_rhs = 1;
  dgetrs_(&transposed, &order, &one_rhs, factors.data(), &leading_dimension, pivots.data(),
          solution.data(), &leading_dimension, &info);
  if (info != 0) {
    return std::unexpected(linalg_error(lapack_failure_text(info)));
  }
  return solution;
}

}  // namespace krelm
