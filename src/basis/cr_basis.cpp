// Cubic regression spline basis: the cardinal natural splines through the knots, their
// linear continuation, the integrated squared second-derivative penalty, knot placement.
#include "cr_basis.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "../format.hpp"

namespace krelm {

namespace {

// Values closer than this to the last kept value count as one distinct covariate value.
constexpr double near_tie_tolerance = 1e-12;

// Piecewise-cubic coefficients of every cardinal basis function. Row j is interval j, column i
// is basis function i: basis_i(x) = a + b·t + c·t² + d·t³ with t = x − knots[j].
struct CubicPieces {
  RowMatrix a;
  RowMatrix b;
  RowMatrix c;
  RowMatrix d;
  Vector start_value;  // A_i, basis_i at the first knot
  Vector start_slope;  // A'_i
  Vector end_value;    // E_i, basis_i at the last knot
  Vector end_slope;    // E'_i, slope of the last cubic at its right end
};

Vector knot_spacings(const Vector& knots) {
  const Eigen::Index intervals = knots.size() - 1;
  Vector spacings(intervals);
  for (Eigen::Index j = 0; j < intervals; ++j) {
    spacings(j) = knots(j + 1) - knots(j);
  }
  return spacings;
}

// Half second derivatives c_j of the natural cubic spline through (knots[j], y_j), by the
// tridiagonal sweep with c_0 = c_{k−1} = 0.
Vector natural_half_curvatures(const Vector& h, const Vector& y) {
  const Eigen::Index k = y.size();
  Vector mu = Vector::Zero(k);
  Vector z = Vector::Zero(k);
  for (Eigen::Index j = 1; j <= k - 2; ++j) {
    const double alpha = (3.0 / h(j)) * (y(j + 1) - y(j)) - (3.0 / h(j - 1)) * (y(j) - y(j - 1));
    const double l = 2.0 * (h(j - 1) + h(j)) - h(j - 1) * mu(j - 1);
    mu(j) = h(j) / l;
    z(j) = (alpha - h(j - 1) * z(j - 1)) / l;
  }
  Vector curvature = Vector::Zero(k);
  for (Eigen::Index j = k - 2; j >= 0; --j) {
    curvature(j) = z(j) - mu(j) * curvature(j + 1);
  }
  return curvature;
}

// O(k²): one natural spline per unit vector e_i.
CubicPieces cardinal_spline_pieces(const Vector& knots) {
  const Eigen::Index k = knots.size();
  const Eigen::Index intervals = k - 1;
  const Vector h = knot_spacings(knots);
  CubicPieces pieces{RowMatrix(intervals, k),
                     RowMatrix(intervals, k),
                     RowMatrix(intervals, k),
                     RowMatrix(intervals, k),
                     Vector(k),
                     Vector(k),
                     Vector(k),
                     Vector(k)};
  for (Eigen::Index i = 0; i < k; ++i) {
    const Vector y = Vector::Unit(k, i);
    const Vector c = natural_half_curvatures(h, y);
    for (Eigen::Index j = 0; j < intervals; ++j) {
      pieces.a(j, i) = y(j);
      pieces.b(j, i) = (y(j + 1) - y(j)) / h(j) - (2.0 * c(j) + c(j + 1)) * h(j) / 3.0;
      pieces.c(j, i) = c(j);
      pieces.d(j, i) = (c(j + 1) - c(j)) / (3.0 * h(j));
    }
    const Eigen::Index last = intervals - 1;
    const double last_h = h(last);
    pieces.start_value(i) = y(0);
    pieces.start_slope(i) = pieces.b(0, i);
    pieces.end_value(i) = y(k - 1);
    pieces.end_slope(i) = 3.0 * pieces.d(last, i) * last_h * last_h +
                          2.0 * pieces.c(last, i) * last_h + pieces.b(last, i);
  }
  return pieces;
}

// Interval lo with knots[lo] ≤ value, by bisection; a value equal to an interior knot takes
// the interval to its right, a NaN ends in the last interval.
Eigen::Index find_interval(const Vector& knots, double value) {
  Eigen::Index lo = 0;
  Eigen::Index hi = knots.size() - 1;
  while (lo < hi - 1) {
    const Eigen::Index mid = (lo + hi) / 2;
    if (value < knots(mid)) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return lo;
}

// Solves B·y = rhs for the symmetric tridiagonal B (diagonal `diagonal`, off-diagonal
// `off_diagonal`) by elimination without pivoting; B is diagonally dominant.
Vector solve_tridiagonal(const Vector& diagonal, const Vector& off_diagonal, const Vector& rhs) {
  const Eigen::Index m = diagonal.size();
  Vector diag = diagonal;
  Vector right = rhs;
  for (Eigen::Index i = 0; i + 1 < m; ++i) {
    const double w = off_diagonal(i) / diag(i);
    diag(i + 1) -= off_diagonal(i) * w;
    right(i + 1) -= w * right(i);
  }
  Vector solution(m);
  solution(m - 1) = right(m - 1) / diag(m - 1);
  for (Eigen::Index i = m - 2; i >= 0; --i) {
    solution(i) = (right(i) - solution(i + 1) * off_diagonal(i)) / diag(i);
  }
  return solution;
}

// Numeric order with NaNs last: a strict weak order, identical to `<` on non-NaN values.
bool sorts_before(double left, double right) {
  if (std::isnan(left)) {
    return false;
  }
  return std::isnan(right) || left < right;
}

std::vector<double> distinct_sorted_values(const VectorRef& values) {
  // Own copy: sorting must not touch the caller's column.
  std::vector<double> sorted(values.begin(), values.end());
  std::stable_sort(sorted.begin(), sorted.end(), sorts_before);
  std::vector<double> distinct;
  for (const double value : sorted) {
    // Against the last kept value, so a slow drift of near-ties still collapses to one.
    if (distinct.empty() || std::abs(value - distinct.back()) > near_tie_tolerance) {
      distinct.push_back(value);
    }
  }
  return distinct;
}

Vector evenly_spaced_knots(const std::vector<double>& distinct, std::size_t k) {
  const double first = distinct.empty() ? 0.0 : distinct.front();
  const double last = distinct.empty() ? 1.0 : distinct.back();
  const double step = k >= 2 ? (last - first) / static_cast<double>(k - 1) : 0.0;
  Vector knots(static_cast<Eigen::Index>(k));
  for (std::size_t j = 0; j < k; ++j) {
    knots(static_cast<Eigen::Index>(j)) = static_cast<double>(j) * step + first;
  }
  return knots;
}

Vector quantile_knots(const std::vector<double>& distinct, std::size_t k) {
  const std::size_t u = distinct.size();
  Vector knots(static_cast<Eigen::Index>(k));
  for (std::size_t j = 0; j < k; ++j) {
    // k = 1 only reaches here to be refused by from_knots; avoid 0/0 on the way.
    const double fraction = k > 1 ? static_cast<double>(j) / static_cast<double>(k - 1) : 0.0;
    const double position = fraction * static_cast<double>(u - 1);
    const auto index = static_cast<std::size_t>(std::floor(position));
    double knot = distinct[u - 1];
    if (index < u - 1) {
      const double f = position - static_cast<double>(index);
      knot = (1.0 - f) * distinct[index] + f * distinct[index + 1];
    }
    knots(static_cast<Eigen::Index>(j)) = knot;
  }
  return knots;
}

}  // namespace

Expected<CrBasis> CrBasis::from_knots(Vector knots) {
  if (knots.size() <= 2) {
    return std::unexpected(
        invalid_parameter("CR spline needs k ≥ 3 (got " + std::to_string(knots.size()) + ")"));
  }
  for (Eigen::Index j = 1; j < knots.size(); ++j) {
    if (!(knots(j) > knots(j - 1))) {
      return std::unexpected(invalid_parameter("CR spline knots must be strictly increasing"));
    }
  }
  // The cubic pieces take the cube of distances within the knot range; beyond ~1e102 it
  // overflows and every basis value and penalty entry would be NaN.
  const double span = knots(knots.size() - 1) - knots(0);
  if (!std::isfinite(span * span * span)) {
    return std::unexpected(
        invalid_parameter("CR spline knots span too wide a range to evaluate; got knots from " +
                          format_float(knots(0)) + " to " + format_float(knots(knots.size() - 1))));
  }
  return CrBasis(std::move(knots));
}

RowMatrix CrBasis::evaluate(const VectorRef& x) const {
  const CubicPieces pieces = cardinal_spline_pieces(knots_);
  const Eigen::Index k = knots_.size();
  const double first_knot = knots_(0);
  const double last_knot = knots_(k - 1);
  RowMatrix basis(x.size(), k);
  for (Eigen::Index r = 0; r < x.size(); ++r) {
    const double value = x(r);
    if (value < first_knot) {
      const double offset = value - first_knot;
      for (Eigen::Index i = 0; i < k; ++i) {
        basis(r, i) = pieces.start_slope(i) * offset + pieces.start_value(i);
      }
    } else if (value > last_knot) {
      const double offset = value - last_knot;
      for (Eigen::Index i = 0; i < k; ++i) {
        basis(r, i) = pieces.end_slope(i) * offset + pieces.end_value(i);
      }
    } else {
      const Eigen::Index j = find_interval(knots_, value);
      const double t = value - knots_(j);
      const double t2 = t * t;
      const double t3 = t2 * t;
      for (Eigen::Index i = 0; i < k; ++i) {
        basis(r, i) =
            pieces.d(j, i) * t3 + pieces.c(j, i) * t2 + pieces.b(j, i) * t + pieces.a(j, i);
      }
    }
  }
  return basis;
}

RowMatrix CrBasis::penalty() const {
  // S = Dᵀ·B⁻¹·D: D maps knot values to second-difference slopes, B is the Gram matrix of the
  // piecewise-linear second derivative, so ∫ f''² = βᵀ·S·β.
  const Eigen::Index k = knots_.size();
  const Eigen::Index m = k - 2;
  const Vector h = knot_spacings(knots_);
  RowMatrix second_differences = RowMatrix::Zero(m, k);
  Vector gram_diagonal(m);
  Vector gram_off_diagonal = Vector::Zero(m);  // entry i couples rows i and i+1
  for (Eigen::Index i = 0; i < m; ++i) {
    second_differences(i, i) = 1.0 / h(i);
    second_differences(i, i + 1) = -1.0 / h(i) - 1.0 / h(i + 1);
    second_differences(i, i + 2) = 1.0 / h(i + 1);
    gram_diagonal(i) = (h(i) + h(i + 1)) / 3.0;
    if (i + 1 < m) {
      gram_off_diagonal(i) = h(i + 1) / 6.0;
    }
  }
  RowMatrix solved(m, k);  // B⁻¹·D, one column at a time
  for (Eigen::Index col = 0; col < k; ++col) {
    solved.col(col) =
        solve_tridiagonal(gram_diagonal, gram_off_diagonal, second_differences.col(col));
  }
  return second_differences.transpose() * solved;
}

Expected<CrBasis> place_knots(const VectorRef& values, std::size_t k) {
  // Sizes are handed to BLAS and LAPACK as int; a larger basis could never be allocated.
  if (k > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return std::unexpected(invalid_parameter("CR spline needs k ≤ " +
                                             std::to_string(std::numeric_limits<int>::max()) +
                                             " (got " + std::to_string(k) + ")"));
  }
  const std::vector<double> distinct = distinct_sorted_values(values);
  Vector knots =
      distinct.size() < k ? evenly_spaced_knots(distinct, k) : quantile_knots(distinct, k);
  return CrBasis::from_knots(std::move(knots));
}

}  // namespace krelm
