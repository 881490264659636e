// Cubic regression spline basis: cardinal property, partition of unity, linear continuation,
// the penalty against a quadrature of second derivatives, knot placement and validation.
#include "basis/cr_basis.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "error.hpp"

namespace krelm {
namespace {

Vector vector_of(std::initializer_list<double> values) {
  Vector v(static_cast<Eigen::Index>(values.size()));
  Eigen::Index i = 0;
  for (const double value : values) {
    v(i++) = value;
  }
  return v;
}

CrBasis uneven_basis() {
  auto basis = CrBasis::from_knots(vector_of({-1.0, 0.0, 0.5, 2.0, 2.25, 4.0}));
  EXPECT_TRUE(basis.has_value());
  return *basis;
}

double evaluate_one(const CrBasis& basis, double x, Eigen::Index i) {
  const Vector point = Vector::Constant(1, x);
  return basis.evaluate(point)(0, i);
}

TEST(CrBasisEvaluate, KnotsGiveUnitVectors) {
  const CrBasis basis = uneven_basis();
  const Vector& knots = basis.knots();
  const RowMatrix at_knots = basis.evaluate(knots);
  const Eigen::Index k = knots.size();
  // The first and interior knots start a cubic at t = 0, so only the constant term counts and
  // the unit vector is exact; the last knot sums the whole last cubic.
  for (Eigen::Index j = 0; j + 1 < k; ++j) {
    SCOPED_TRACE(j);
    EXPECT_EQ(at_knots.row(j), RowMatrix::Identity(k, k).row(j));
  }
  for (Eigen::Index i = 0; i < k; ++i) {
    EXPECT_NEAR(at_knots(k - 1, i), i == k - 1 ? 1.0 : 0.0, 1e-14);
  }
}

TEST(CrBasisEvaluate, RowsSumToOneEverywhere) {
  const CrBasis basis = uneven_basis();
  const Vector x = vector_of({-30.0, -1.0001, -1.0, -0.3, 0.25, 1.999, 2.1, 3.9, 4.0, 4.5, 100.0});
  const RowMatrix values = basis.evaluate(x);
  for (Eigen::Index r = 0; r < x.size(); ++r) {
    SCOPED_TRACE(x(r));
    // Sums of ≤ 6 terms of size ≤ |slope|·|x|; 1e-12 is far above rounding, far below a fault.
    EXPECT_NEAR(values.row(r).sum(), 1.0, 1e-12);
  }
}

TEST(CrBasisEvaluate, NanGivesNanRow) {
  const CrBasis basis = uneven_basis();
  const RowMatrix values = basis.evaluate(Vector::Constant(1, std::nan("")));
  EXPECT_TRUE(values.array().isNaN().all());
}

// Outside the knots each basis function is a straight line that leaves the end knot with the
// value and slope of the inner cubic there.
TEST(CrBasisEvaluate, ContinuesLinearlyBeyondTheEndKnots) {
  const CrBasis basis = uneven_basis();
  const double first = basis.knots()(0);
  const double last = basis.knots()(basis.knots().size() - 1);
  constexpr double step = 1e-5;
  struct EndCase {
    const char* label;
    double knot;
    double outward;  // −1 below the first knot, +1 above the last
  };
  const std::array cases = {EndCase{"below", first, -1.0}, EndCase{"above", last, 1.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    for (Eigen::Index i = 0; i < basis.knots().size(); ++i) {
      SCOPED_TRACE(i);
      const double at_knot = evaluate_one(basis, c.knot, i);
      const double out1 = evaluate_one(basis, c.knot + c.outward * 1.0, i);
      const double out2 = evaluate_one(basis, c.knot + c.outward * 2.0, i);
      const double out7 = evaluate_one(basis, c.knot + c.outward * 7.0, i);
      // Linear: equal steps give equal increments.
      EXPECT_NEAR(out2 - out1, out1 - at_knot, 1e-12);
      EXPECT_NEAR(out7 - at_knot, 7.0 * (out1 - at_knot), 1e-11);
      // Continuous, and the slope matches the inner cubic's one-sided derivative: the inner
      // difference quotient is off by O(step·f'') ≈ 1e-5.
      const double just_outside = evaluate_one(basis, c.knot + c.outward * 1e-12, i);
      EXPECT_NEAR(just_outside, at_knot, 1e-11);
      const double inner = evaluate_one(basis, c.knot - c.outward * step, i);
      const double inner_slope = (at_knot - inner) / step;
      EXPECT_NEAR(out1 - at_knot, inner_slope, 1e-4);
    }
  }
}

// Oracle: inside an interval each basis function is a cubic, so the central second difference
// equals f'' up to rounding; f''·g'' is quadratic there, so two-point Gauss–Legendre per
// interval integrates it exactly.
TEST(CrBasisPenalty, MatchesQuadratureOfSecondDerivatives) {
  const CrBasis basis = uneven_basis();
  const Vector& knots = basis.knots();
  const Eigen::Index k = knots.size();
  RowMatrix quadrature = RowMatrix::Zero(k, k);
  const double gauss_offset = 1.0 / std::sqrt(3.0);
  for (Eigen::Index j = 0; j + 1 < k; ++j) {
    const double half = (knots(j + 1) - knots(j)) / 2.0;
    const double centre = knots(j) + half;
    for (const double sign : {-1.0, 1.0}) {
      const double x = centre + sign * gauss_offset * half;
      const double delta = 1e-3 * half;
      const RowMatrix around = basis.evaluate(vector_of({x - delta, x, x + delta}));
      const Eigen::RowVectorXd second =
          (around.row(0) - 2.0 * around.row(1) + around.row(2)) / (delta * delta);
      quadrature += half * second.transpose() * second;
    }
  }
  const RowMatrix penalty = basis.penalty();
  // Second differences lose ~1e-16/delta² ≈ 1e-9 relative.
  const double scale = penalty.cwiseAbs().maxCoeff();
  EXPECT_LT((penalty - quadrature).cwiseAbs().maxCoeff(), 1e-6 * scale);
  EXPECT_LT((penalty - penalty.transpose()).cwiseAbs().maxCoeff(), 1e-14 * scale);
}

TEST(CrBasisPenalty, AnnihilatesConstantsAndLines) {
  const CrBasis basis = uneven_basis();
  const RowMatrix penalty = basis.penalty();
  const double scale = penalty.cwiseAbs().maxCoeff();
  const Vector constant = Vector::Ones(basis.knots().size());
  // Coefficients are values at the knots, so the identity function has coefficients = knots.
  EXPECT_LT((penalty * constant).cwiseAbs().maxCoeff(), 1e-13 * scale);
  EXPECT_LT((penalty * basis.knots()).cwiseAbs().maxCoeff(), 1e-13 * scale);
}

struct KnotCase {
  const char* label;
  std::vector<double> values;
  std::size_t k;
  std::vector<double> expected;
};

TEST(PlaceKnots, QuantilesOrEvenSpacingOfDistinctValues) {
  std::vector<double> hundred;  // 0 … 99, shuffled and doubled: 100 distinct values
  for (int i = 0; i < 100; ++i) {
    hundred.push_back(static_cast<double>((i * 37) % 100));
    hundred.push_back(static_cast<double>((i * 71) % 100));
  }
  std::vector<double> elevens;
  for (int j = 0; j < 10; ++j) {
    elevens.push_back(11.0 * j);  // quantile j/9 of 0 … 99
  }
  const std::array cases = {
      KnotCase{"100 distinct values, k 10: interpolated quantiles", hundred, 10, elevens},
      KnotCase{"interpolation between distinct values", {0.0, 1.0, 4.0, 10.0}, 3, {0.0, 2.5, 10.0}},
      KnotCase{"5 distinct values, k 10: evenly spaced from min to max",
               {3.0, 1.0, 2.0, 5.0, 4.0, 1.0},
               10,
               {1.0, 1.0 + 4.0 / 9, 1.0 + 8.0 / 9, 1.0 + 12.0 / 9, 1.0 + 16.0 / 9, 1.0 + 20.0 / 9,
                1.0 + 24.0 / 9, 1.0 + 28.0 / 9, 1.0 + 32.0 / 9, 5.0}},
      KnotCase{"empty column: evenly spaced on [0, 1]", {}, 3, {0.0, 0.5, 1.0}},
      KnotCase{"1e-13 apart is one value", {1.0, 1.0 + 1e-13, 2.0, 3.0}, 3, {1.0, 2.0, 3.0}},
      KnotCase{"1e-11 apart is two values", {2.0, 1.0 + 1e-11, 1.0}, 3, {1.0, 1.0 + 1e-11, 2.0}},
      // 0.6e-12 is within 1e-12 of 0 and dropped; 1.2e-12 is compared with 0, the last kept
      // value, not with the dropped 0.6e-12, so it stays.
      KnotCase{"near-ties compare with the last kept value",
               {5.0, 1.2e-12, 0.6e-12, 0.0},
               3,
               {0.0, 1.2e-12, 5.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const VectorView values(c.values.data(), static_cast<Eigen::Index>(c.values.size()),
                            Eigen::InnerStride<Eigen::Dynamic>(1));
    const auto basis = place_knots(values, c.k);
    ASSERT_TRUE(basis.has_value()) << basis.error().display();
    ASSERT_EQ(basis->knots().size(), static_cast<Eigen::Index>(c.expected.size()));
    for (std::size_t j = 0; j < c.expected.size(); ++j) {
      // The quantile position (j/(k−1))·(u−1) and the even step round; a few ulps of 100.
      EXPECT_NEAR(basis->knots()(static_cast<Eigen::Index>(j)), c.expected[j], 1e-13)
          << "knot " << j;
    }
  }
}

TEST(PlaceKnots, EndKnotsAreExactlyTheExtremes) {
  const Vector values = vector_of({0.3, -2.7, 9.1, 4.4, 1.0, 0.1, 7.7});
  const auto basis = place_knots(values, 4);
  ASSERT_TRUE(basis.has_value());
  EXPECT_EQ(basis->knots()(0), -2.7);
  EXPECT_EQ(basis->knots()(3), 9.1);
}

struct KnotErrorCase {
  const char* label;
  std::vector<double> values;
  std::size_t k;
  std::string message;
};

TEST(PlaceKnots, RefusesTooFewKnotsAndSingleValues) {
  const std::array cases = {
      KnotErrorCase{"k = 2", {1.0, 2.0, 3.0}, 2, "CR spline needs k ≥ 3 (got 2)"},
      KnotErrorCase{"k = 1", {1.0, 2.0, 3.0}, 1, "CR spline needs k ≥ 3 (got 1)"},
      KnotErrorCase{"k = 0", {1.0, 2.0, 3.0}, 0, "CR spline needs k ≥ 3 (got 0)"},
      KnotErrorCase{"k = 2 on an empty column", {}, 2, "CR spline needs k ≥ 3 (got 2)"},
      KnotErrorCase{
          "a single value", {4.0, 4.0, 4.0}, 5, "CR spline knots must be strictly increasing"},
      KnotErrorCase{"all within 1e-12",
                    {1.0, 1.0 + 4e-13, 1.0 - 4e-13},
                    3,
                    "CR spline knots must be strictly increasing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const VectorView values(c.values.data(), static_cast<Eigen::Index>(c.values.size()),
                            Eigen::InnerStride<Eigen::Dynamic>(1));
    const auto basis = place_knots(values, c.k);
    ASSERT_FALSE(basis.has_value());
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(basis.error().value));
    EXPECT_EQ(error_message(basis.error()), c.message);
  }
}

TEST(CrBasisFromKnots, ValidatesCountBeforeOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* label;
    Vector knots;
    std::string message;
  };
  const std::array cases = {
      Case{"two knots, out of order", vector_of({1.0, 0.0}), "CR spline needs k ≥ 3 (got 2)"},
      Case{"a repeated knot", vector_of({0.0, 1.0, 1.0}),
           "CR spline knots must be strictly increasing"},
      Case{"decreasing", vector_of({0.0, 2.0, 1.0, 3.0}),
           "CR spline knots must be strictly increasing"},
      Case{"a NaN knot", vector_of({0.0, nan, 1.0}), "CR spline knots must be strictly increasing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto basis = CrBasis::from_knots(c.knots);
    ASSERT_FALSE(basis.has_value());
    EXPECT_EQ(basis.error().display(), "invalid parameter: " + c.message);
  }
}

}  // namespace
}  // namespace krelm
