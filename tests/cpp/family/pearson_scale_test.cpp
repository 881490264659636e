// Pearson scale of the quasi, Gamma and inverse-Gaussian families against hand sums.
#include "family/pearson_scale.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace krelm {
namespace {

Vector vector_of(std::initializer_list<double> values) {
  Vector v(static_cast<Eigen::Index>(values.size()));
  Eigen::Index i = 0;
  for (const double value : values) {
    v[i++] = value;
  }
  return v;
}

TEST(PearsonScale, WeightedSumOverResidualDegreesOfFreedom) {
  struct Case {
    const char* label;
    FamilyKind kind;
    Vector y;
    Vector mu;
    double expected;
  };
  const std::vector<double> weights{1.0, 2.0, 0.5};
  // n − edf = 3 − 1 = 2 in every row.
  const std::array cases = {
      Case{"QuasiPoisson v = μ", FamilyKind::QuasiPoisson, vector_of({1.0, 2.0, 4.0}),
           vector_of({1.5, 2.0, 3.0}), (0.25 / 1.5 + 0.5 / 3.0) / 2.0},
      Case{"Gamma v = μ²", FamilyKind::Gamma, vector_of({1.0, 2.0, 4.0}),
           vector_of({1.5, 2.0, 3.0}), (0.25 / 2.25 + 0.5 / 9.0) / 2.0},
      Case{"inverse Gaussian v = μ³", FamilyKind::InverseGaussian, vector_of({1.0, 2.0, 4.0}),
           vector_of({1.5, 2.0, 3.0}), (0.25 / 3.375 + 0.5 / 27.0) / 2.0},
      // The zero mean is raised to 1e-15 in both the residual and the variance
      // (value from the same formula in NumPy).
      Case{"QuasiBinomial with a floored mean", FamilyKind::QuasiBinomial,
           vector_of({0.0, 1.0, 0.5}), vector_of({0.2, 0.9, 0.0}), 62500000000000.04},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(pearson_scale(c.kind, c.y, c.mu, weights, 1.0), c.expected, 1e-14 * c.expected);
  }
}

TEST(PearsonScale, NanWithoutResidualDegreesOfFreedom) {
  const Vector y = vector_of({1.0, 2.0});
  const Vector mu = vector_of({1.5, 2.5});
  for (const double edf_total : {2.0, 2.5, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(edf_total);
    EXPECT_TRUE(std::isnan(pearson_scale(FamilyKind::QuasiPoisson, y, mu, {}, edf_total)));
  }
  EXPECT_NEAR(pearson_scale(FamilyKind::QuasiPoisson, y, mu, {}, 1.5),
              (0.25 / 1.5 + 0.25 / 2.5) / 0.5, 1e-15);
}

}  // namespace
}  // namespace krelm
