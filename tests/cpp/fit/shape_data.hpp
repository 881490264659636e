// Seeded responses of the shape-aware and ordered categorical families around a smooth
// truth η(x) = sin(2πx) + 0.5x on a sorted grid of [0, 1], for the shape score and driver
// tests.
#pragma once

#include <cmath>
#include <random>

#include "../support/test_models.hpp"
#include "family/family.hpp"
#include "matrix.hpp"

namespace krelm::testing {

/// The shape parameters of the simulated truth.
struct ShapeTruth {
  double theta = 3.0;  ///< NegBin
  double nu = 4.0;     ///< TDist
  double sigma = 0.5;  ///< TDist scale (σ, not σ²)
  double power = 1.4;  ///< Tweedie
  double phi = 2.0;    ///< Tweedie
};

inline double smooth_truth(double t) { return std::sin(2.0 * 3.141592653589793 * t) + 0.5 * t; }

/// NegBin by its gamma–Poisson mixture, TDist as μ + σ·t_ν, Tweedie as a compound
/// Poisson–gamma sum; means exp(η + 1) for the log-link families and η for TDist.
inline Simulated simulate_shape(FamilyKind family, Eigen::Index n, unsigned seed = 5,
                                const ShapeTruth& truth = {}) {
  std::mt19937_64 engine(seed);
  Simulated data{RowMatrix(n, 1), Vector(n)};
  for (Eigen::Index i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n - 1);
    data.x(i, 0) = t;
    const double eta = smooth_truth(t);
    const double mean = std::exp(eta + 1.0);
    switch (family) {
      case FamilyKind::NegBin: {
        std::gamma_distribution<double> rate(truth.theta, mean / truth.theta);
        std::poisson_distribution<int> counts(rate(engine));
        data.y(i) = counts(engine);
        break;
      }
      case FamilyKind::TDist: {
        std::student_t_distribution<double> noise(truth.nu);
        data.y(i) = eta + truth.sigma * noise(engine);
        break;
      }
      default: {  // Tweedie
        const double p = truth.power;
        std::poisson_distribution<int> events(std::pow(mean, 2.0 - p) / (truth.phi * (2.0 - p)));
        std::gamma_distribution<double> size((2.0 - p) / (p - 1.0),
                                             truth.phi * (p - 1.0) * std::pow(mean, p - 1.0));
        const int count = events(engine);
        double total = 0.0;
        for (int j = 0; j < count; ++j) {
          total += size(engine);
        }
        data.y(i) = total;
        break;
      }
    }
  }
  return data;
}

/// Categories 1..R of a latent logistic variable η(x)·scale + noise cut at `cuts` (R − 1
/// increasing finite cut points).
inline Simulated simulate_ocat(Eigen::Index n, const std::vector<double>& cuts, double scale,
                               unsigned seed = 9) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Simulated data{RowMatrix(n, 1), Vector(n)};
  for (Eigen::Index i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n - 1);
    data.x(i, 0) = t;
    const double u = uniform(engine);
    const double latent = scale * smooth_truth(t) + std::log(u / (1.0 - u));
    double category = 1.0;
    for (const double cut : cuts) {
      category += latent > cut ? 1.0 : 0.0;
    }
    data.y(i) = category;
  }
  return data;
}

}  // namespace krelm::testing
