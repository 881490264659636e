// Levels, indicator matrix and the "re" design.
#include "re_design.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "../internal_fault.hpp"

namespace krelm {

namespace {

// Both signed zeros compare equal, so they must be one level: a grouping value of −0.0 is
// the group 0.0.
double without_negative_zero(double value) { return value == 0.0 ? 0.0 : value; }

bool same_bits(double left, double right) {
  return std::bit_cast<std::uint64_t>(left) == std::bit_cast<std::uint64_t>(right);
}

// Numeric order with NaNs last: a strict weak order, identical to `<` on non-NaN values.
bool sorts_before(double left, double right) {
  if (std::isnan(left)) {
    return false;
  }
  return std::isnan(right) || left < right;
}

// First level l with !(levels[l] < value), by bisection; levels.size() when there is none.
Eigen::Index lower_bound_level(const Vector& levels, double value) {
  Eigen::Index lo = 0;
  Eigen::Index hi = levels.size();
  while (lo < hi) {
    const Eigen::Index mid = lo + (hi - lo) / 2;
    if (sorts_before(levels(mid), value)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

}  // namespace

RowMatrix re_indicator(const Vector& levels, const VectorRef& values) {
  RowMatrix indicators = RowMatrix::Zero(values.size(), levels.size());
  for (Eigen::Index r = 0; r < values.size(); ++r) {
    const double value = without_negative_zero(values(r));
    const Eigen::Index level = lower_bound_level(levels, value);
    if (level < levels.size() && same_bits(levels(level), value)) {
      indicators(r, level) = 1.0;
    }
  }
  return indicators;
}

Expected<ReTerm> build_re_term(const MatrixRef& x, std::size_t col) {
  if (col >= static_cast<std::size_t>(x.cols())) {
    internal_fault("build_re_term: column outside x");
  }
  const auto column = x.col(static_cast<Eigen::Index>(col));
  // Own copy: the levels are sorted, the caller's column is not.
  std::vector<double> sorted;
  sorted.reserve(static_cast<std::size_t>(column.size()));
  for (const double value : column) {
    sorted.push_back(without_negative_zero(value));
  }
  std::stable_sort(sorted.begin(), sorted.end(), sorts_before);
  const auto last = std::unique(sorted.begin(), sorted.end(), same_bits);
  sorted.erase(last, sorted.end());
  if (sorted.empty()) {
    return std::unexpected(invalid_parameter("Re basis: x is empty"));
  }
  Vector levels = Eigen::Map<const Vector>(sorted.data(), static_cast<Eigen::Index>(sorted.size()));
  RowMatrix basis = re_indicator(levels, column);
  return ReTerm{std::move(levels), std::move(basis)};
}

Expected<Design> build_re_design(const MatrixRef& x) {
  auto term = build_re_term(x, 0);
  if (!term) {
    return std::unexpected(std::move(term.error()));
  }
  const Eigen::Index level_count = term->levels.size();
  const RowMatrix identity = RowMatrix::Identity(level_count, level_count);
  Predictor predictor{RePredictor{std::move(term->levels)}};
  return single_smooth_design(term->basis, identity, std::move(predictor));
}

}  // namespace krelm
