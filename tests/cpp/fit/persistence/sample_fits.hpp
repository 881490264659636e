// Hand-built, internally consistent FittedGam records, one per predictor kind, for the
// persistence tests. Their numbers span many magnitudes so that every branch of the
// number format is written.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fit/fitted_gam.hpp"

namespace krelm::testing {

// Deterministic values of mixed sign and magnitude (1e-9 … 1e9), with some round numbers.
inline double sample_value(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-9, 9);
  std::uniform_int_distribution<int> pick(0, 9);
  const int choice = pick(rng);
  if (choice == 0) {
    return static_cast<double>(exponent(rng));  // an integer-valued entry: written with ".0"
  }
  return mantissa(rng) * std::pow(10.0, exponent(rng));
}

inline Vector sample_vector(std::mt19937_64& rng, Eigen::Index size) {
  Vector v(size);
  for (double& x : v) {
    x = sample_value(rng);
  }
  return v;
}

inline RowMatrix sample_matrix(std::mt19937_64& rng, Eigen::Index rows, Eigen::Index cols) {
  RowMatrix m(rows, cols);
  for (Eigen::Index i = 0; i < m.size(); ++i) {
    m.data()[i] = sample_value(rng);
  }
  return m;
}

inline Vector increasing_knots(Eigen::Index k) { return Vector::LinSpaced(k, -1.5, 2.25); }

inline CrPredictor sample_cr(std::mt19937_64& rng, Eigen::Index k) {
  return {increasing_knots(k), sample_matrix(rng, k, k - 1)};
}

inline TensorPredictor sample_tensor(std::mt19937_64& rng, std::uint64_t col_a, std::uint64_t col_b,
                                     Eigen::Index k_a, Eigen::Index k_b) {
  TensorPredictor tensor;
  tensor.col_a = col_a;
  tensor.col_b = col_b;
  tensor.knots_a = increasing_knots(k_a);
  tensor.knots_b = Vector::LinSpaced(k_b, 0.0, 1.0);
  tensor.xp_a = sample_matrix(rng, k_a, k_a);
  tensor.xp_b = sample_matrix(rng, k_b, k_b);
  tensor.centring = sample_matrix(rng, k_a * k_b, k_a * k_b - 1);
  return tensor;
}

// A record around `predictor` whose p model-matrix columns and m penalties are given.
inline FittedGam sample_fit(std::mt19937_64& rng, Predictor predictor, Eigen::Index p,
                            Eigen::Index m) {
  FittedGam fit;
  fit.beta = sample_vector(rng, p);
  fit.rho = sample_vector(rng, m);
  fit.lambda = fit.rho.array().exp();
  fit.scale = 1.25;
  fit.edf_total = 4.75;
  fit.edf_per_term = sample_vector(rng, m);
  fit.n = 200;
  fit.n_iters = 7;
  fit.converged = true;
  fit.reml_value = -123.456;
  fit.predictor = std::move(predictor);
  fit.vcov = sample_matrix(rng, p, p);
  fit.link_kind = LinkKind::Identity;
  return fit;
}

inline FittedGam sample_cr_fit(std::uint64_t seed = 1) {
  std::mt19937_64 rng(seed);
  return sample_fit(rng, Predictor{sample_cr(rng, 5)}, 5, 1);
}

inline FittedGam sample_re_fit(std::uint64_t seed = 2) {
  std::mt19937_64 rng(seed);
  FittedGam fit = sample_fit(rng, Predictor{RePredictor{Vector{{1.0, 2.0, 3.0}}}}, 4, 1);
  fit.link_kind = LinkKind::Logit;
  return fit;
}

inline FittedGam sample_cr_stable_fit(std::uint64_t seed = 3) {
  std::mt19937_64 rng(seed);
  CrStablePredictor stable{increasing_knots(4), sample_matrix(rng, 4, 3), sample_matrix(rng, 3, 3)};
  FittedGam fit = sample_fit(rng, Predictor{std::move(stable)}, 4, 1);
  fit.converged = false;
  fit.shape_params = Vector{{0.5, -2.0}};
  return fit;
}

// Cr on column 0 (3 columns), Re on column 1 (2 levels), tensor on columns 0 and 2 with
// 3 × 3 margin knots (8 columns): p = 1 + 3 + 2 + 8 = 14 and four penalties.
inline FittedGam sample_additive_fit(std::uint64_t seed = 4) {
  std::mt19937_64 rng(seed);
  AdditivePredictor additive;
  additive.term_predictors.push_back(Predictor{sample_cr(rng, 4)});
  additive.term_predictors.push_back(Predictor{RePredictor{Vector{{-1.0, 0.5}}}});
  additive.term_predictors.push_back(Predictor{sample_tensor(rng, 0, 2, 3, 3)});
  additive.cols_used = {{0}, {1}, {0, 2}};
  additive.term_col_ranges = {{1, 4}, {4, 6}, {6, 14}};
  FittedGam fit = sample_fit(rng, Predictor{std::move(additive)}, 14, 4);
  fit.link_kind = LinkKind::Log;
  fit.shape_params = Vector{{0.25}};
  return fit;
}

inline std::vector<std::pair<std::string, FittedGam>> sample_fits_of_every_kind() {
  return {{"cr", sample_cr_fit()},
          {"re", sample_re_fit()},
          {"cr_stable", sample_cr_stable_fit()},
          {"additive", sample_additive_fit()}};
}

}  // namespace krelm::testing
