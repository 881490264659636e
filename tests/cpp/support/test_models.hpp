// Small seeded problems shared by the solver, score and driver tests.
#pragma once

#include <cmath>
#include <random>

#include "design/cr_design.hpp"
#include "design/design.hpp"
#include "family/family.hpp"
#include "matrix.hpp"

namespace krelm::testing {

/// Covariate column on [0, 1] (sorted) and a response of `family` around a smooth truth.
struct Simulated {
  RowMatrix x;
  Vector y;
};

inline Simulated simulate(FamilyKind family, Eigen::Index n, unsigned seed = 11) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  Simulated data{RowMatrix(n, 1), Vector(n)};
  for (Eigen::Index i = 0; i < n; ++i) {
    data.x(i, 0) = static_cast<double>(i) / static_cast<double>(n - 1);
  }
  for (Eigen::Index i = 0; i < n; ++i) {
    const double t = data.x(i, 0);
    const double eta = std::sin(2.0 * 3.141592653589793 * t) + 0.5 * t;
    switch (family) {
      case FamilyKind::Gaussian: {
        std::normal_distribution<double> noise(0.0, 0.3);
        data.y(i) = eta + noise(engine);
        break;
      }
      case FamilyKind::Poisson:
      case FamilyKind::QuasiPoisson: {
        std::poisson_distribution<int> counts(std::exp(eta + 1.0));
        data.y(i) = counts(engine);
        break;
      }
      case FamilyKind::Bernoulli:
      case FamilyKind::QuasiBinomial:
        data.y(i) = uniform(engine) < 1.0 / (1.0 + std::exp(-2.0 * eta)) ? 1.0 : 0.0;
        break;
      case FamilyKind::Gamma: {
        std::gamma_distribution<double> gamma(4.0, std::exp(eta + 1.0) / 4.0);
        data.y(i) = gamma(engine);
        break;
      }
      default: {  // inverse Gaussian: a positive, right-skewed response around exp(η/2)
        std::lognormal_distribution<double> positive(0.5 * eta, 0.3);
        data.y(i) = positive(engine);
        break;
      }
    }
  }
  return data;
}

inline Design cr_design_of(const RowMatrix& x, std::size_t k) { return *build_cr_design(x, k); }

}  // namespace krelm::testing
