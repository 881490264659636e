// The one-dimensional cubic regression spline basis: knot placement, evaluation at any x
// (linear beyond the end knots) and the wiggliness penalty. Scaling and centring of the
// basis live in transform/centring.
#pragma once

#include <cstddef>
#include <utility>

#include "../error.hpp"
#include "../matrix.hpp"

namespace krelm {

/// A cubic regression spline basis parametrised by its values at the knots: basis function i
/// is the natural cubic spline equal to 1 at knot i and 0 at the other knots.
/// Invariant: at least 3 knots, strictly increasing.
class CrBasis {
 public:
  /// Validates `knots`. Errors: InvalidParameter "CR spline needs k ≥ 3 (got {k})" when there
  /// are fewer than 3, then "CR spline knots must be strictly increasing" (NaN fails too).
  [[nodiscard]] static Expected<CrBasis> from_knots(Vector knots);

  [[nodiscard]] const Vector& knots() const { return knots_; }

  /// n × k raw basis: row r holds basis_0(x[r]) … basis_{k−1}(x[r]). Beyond the end knots
  /// every basis function continues as a straight line with its end slope; a NaN gives NaNs.
  [[nodiscard]] RowMatrix evaluate(const VectorRef& x) const;

  /// k × k penalty S_il = ∫ basis_i''·basis_l'' over [knots[0], knots[k−1]]; rank k − 2.
  [[nodiscard]] RowMatrix penalty() const;

 private:
  explicit CrBasis(Vector knots) : knots_(std::move(knots)) {}

  Vector knots_;
};

/// Places k knots on one covariate column: at evenly spaced quantiles of its distinct values
/// (values within 1e-12 of the last kept one collapse), or evenly spaced between the smallest
/// and largest distinct value when there are fewer than k of them ([0, 1] for an empty
/// column). Errors: those of CrBasis::from_knots.
[[nodiscard]] Expected<CrBasis> place_knots(const VectorRef& values, std::size_t k);

}  // namespace krelm
