// The borrowed fixed inputs every inner solver reads.
#pragma once

#include <span>
#include <vector>

#include "../matrix.hpp"

namespace krelm {

/// Borrowed fixed inputs of an inner fit; they outlive every call that reads them.
struct InnerData {
  const RowMatrix& x;                       ///< n × p
  const Vector& y;                          ///< length n
  std::span<const double> prior_weights;    ///< empty: all ones
  const std::vector<RowMatrix>& penalties;  ///< S_1..S_m, p × p
};

}  // namespace krelm
