// BLAS-backed products. To BLAS our row-major n × p buffer is the column-major p × n
// matrix Xᵀ, so XᵀX is dsyrk('N') on it and Xβ is dgemv('T').
#include "products.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "lapack.hpp"
#include "work_counters.hpp"

namespace krelm {

namespace {

// Rows per block: big enough for BLAS-3 efficiency, small enough to stay in cache.
constexpr Eigen::Index gram_block_rows = 2048;

void symmetrise_from_lower_blas(RowMatrix& gram) {
  // dsyrk with uplo 'U' on the column-major view fills our lower triangle.
  for (Eigen::Index i = 0; i < gram.rows(); ++i) {
    for (Eigen::Index j = i + 1; j < gram.cols(); ++j) {
      gram(i, j) = gram(j, i);
    }
  }
}

}  // namespace

void use_calling_thread_for_blas() { openblas_set_num_threads(1); }

RowMatrix weighted_gram(const RowMatrix& x, std::span<const double> weights) {
  count(work_counters().gram_products);
  const Eigen::Index n = x.rows();
  const int p = static_cast<int>(x.cols());
  RowMatrix gram = RowMatrix::Zero(p, p);
  if (n == 0 || p == 0) {
    return gram;
  }
  const bool has_negative =
      std::any_of(weights.begin(), weights.end(), [](double w) { return !(w >= 0.0); });
  const char upper = 'U';
  const char no_transpose = 'N';
  const char transpose = 'T';
  const double one = 1.0;
  const int leading_dimension = p;
  if (weights.empty()) {
    const int rows = static_cast<int>(n);
    const double zero = 0.0;
    dsyrk_(&upper, &no_transpose, &p, &rows, &one, x.data(), &leading_dimension, &zero, gram.data(),
           &leading_dimension);
    symmetrise_from_lower_blas(gram);
    return gram;
  }
  RowMatrix scaled(std::min(n, gram_block_rows), p);
  for (Eigen::Index start = 0; start < n; start += gram_block_rows) {
    const Eigen::Index rows = std::min(gram_block_rows, n - start);
    const int block_rows = static_cast<int>(rows);
    const double* block = x.data() + start * p;
    if (has_negative) {
      // Signed weights (Newton weights): G += (W·X_b)ᵀ X_b with a general product.
      for (Eigen::Index r = 0; r < rows; ++r) {
        const double w = weights[static_cast<std::size_t>(start + r)];
        for (int c = 0; c < p; ++c) {
          scaled(r, c) = w * block[r * p + c];
        }
      }
      dgemm_(&no_transpose, &transpose, &p, &p, &block_rows, &one, block, &leading_dimension,
             scaled.data(), &leading_dimension, &one, gram.data(), &leading_dimension);
    } else {
      for (Eigen::Index r = 0; r < rows; ++r) {
        const double root = std::sqrt(weights[static_cast<std::size_t>(start + r)]);
        for (int c = 0; c < p; ++c) {
          scaled(r, c) = root * block[r * p + c];
        }
      }
      dsyrk_(&upper, &no_transpose, &p, &block_rows, &one, scaled.data(), &leading_dimension, &one,
             gram.data(), &leading_dimension);
    }
  }
  if (has_negative) {
    gram = (0.5 * (gram + gram.transpose())).eval();
  } else {
    symmetrise_from_lower_blas(gram);
  }
  return gram;
}

Vector weighted_cross_product(const RowMatrix& x, std::span<const double> weights,
                              std::span<const double> values) {
  count(work_counters().design_products);
  const Eigen::Index n = x.rows();
  const int p = static_cast<int>(x.cols());
  Vector result = Vector::Zero(p);
  if (n == 0 || p == 0) {
    return result;
  }
  // Block by block, so the weighted values stay in cache and no n-sized scratch is needed.
  std::vector<double> weighted(static_cast<std::size_t>(std::min(n, gram_block_rows)));
  const char no_transpose = 'N';  // column-major Xᵀ (p × rows) times the block of values
  const double one = 1.0;
  const int unit = 1;
  for (Eigen::Index start = 0; start < n; start += gram_block_rows) {
    const Eigen::Index rows = std::min(gram_block_rows, n - start);
    for (Eigen::Index r = 0; r < rows; ++r) {
      const auto i = static_cast<std::size_t>(start + r);
      weighted[static_cast<std::size_t>(r)] = weights.empty() ? values[i] : values[i] * weights[i];
    }
    const int block_rows = static_cast<int>(rows);
    dgemv_(&no_transpose, &p, &block_rows, &one, x.data() + start * p, &p, weighted.data(), &unit,
           &one, result.data(), &unit);
  }
  return result;
}

double weighted_residual_sum_of_squares(const RowMatrix& x, const Vector& beta, const Vector& y,
                                        std::span<const double> weights) {
  count(work_counters().design_products);
  const Eigen::Index n = x.rows();
  const int p = static_cast<int>(x.cols());
  std::vector<double> fitted(static_cast<std::size_t>(std::min(n, gram_block_rows)));
  const char transpose = 'T';
  const double one = 1.0;
  const double zero = 0.0;
  const int unit = 1;
  double total = 0.0;
  for (Eigen::Index start = 0; start < n; start += gram_block_rows) {
    const Eigen::Index rows = std::min(gram_block_rows, n - start);
    const int block_rows = static_cast<int>(rows);
    if (p > 0) {
      dgemv_(&transpose, &p, &block_rows, &one, x.data() + start * p, &p, beta.data(), &unit, &zero,
             fitted.data(), &unit);
    } else {
      std::fill(fitted.begin(), fitted.end(), 0.0);
    }
    for (Eigen::Index r = 0; r < rows; ++r) {
      const auto i = start + r;
      const double residual = y(i) - fitted[static_cast<std::size_t>(r)];
      const double weight = weights.empty() ? 1.0 : weights[static_cast<std::size_t>(i)];
      total += weights.empty() ? residual * residual : weight * residual * residual;
    }
  }
  return total;
}

void design_times_into(const RowMatrix& x, const Vector& beta, Vector& eta_out) {
  count(work_counters().design_products);
  const int n = static_cast<int>(x.rows());
  const int p = static_cast<int>(x.cols());
  eta_out.resize(n);
  if (n == 0) {
    return;
  }
  if (p == 0) {
    eta_out.setZero();
    return;
  }
  const char transpose = 'T';  // (column-major Xᵀ)ᵀ β = Xβ
  const double one = 1.0;
  const double zero = 0.0;
  const int unit = 1;
  dgemv_(&transpose, &p, &n, &one, x.data(), &p, beta.data(), &unit, &zero, eta_out.data(), &unit);
}

Vector design_times(const RowMatrix& x, const Vector& beta) {
  Vector eta;
  design_times_into(x, beta, eta);
  return eta;
}

}  // namespace krelm
