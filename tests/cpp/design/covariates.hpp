// Seeded covariate matrices shared by the design tests.
#pragma once

#include <cstdint>
#include <random>

#include "matrix.hpp"

namespace krelm::testing {

/// n × d uniform covariates on [lower, upper), reproducible from `seed`.
inline RowMatrix seeded_covariates(Eigen::Index n, Eigen::Index d, std::uint64_t seed,
                                   double lower = 0.0, double upper = 1.0) {
  std::mt19937_64 generator(seed);
  std::uniform_real_distribution<double> uniform(lower, upper);
  RowMatrix x(n, d);
  for (Eigen::Index r = 0; r < n; ++r) {
    for (Eigen::Index c = 0; c < d; ++c) {
      x(r, c) = uniform(generator);
    }
  }
  return x;
}

/// Largest absolute column sum over columns [first, last) of `matrix`.
inline double largest_abs_column_sum(const RowMatrix& matrix, Eigen::Index first,
                                     Eigen::Index last) {
  return matrix.middleCols(first, last - first).colwise().sum().cwiseAbs().maxCoeff();
}

}  // namespace krelm::testing
