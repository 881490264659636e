// What one score evaluation returns to the outer Newton loop.
#pragma once

#include "../matrix.hpp"

namespace krelm {

struct ScoreEval {
  double value = 0.0;  ///< V, the negative log marginal likelihood to minimise
  Vector gradient;     ///< ∂V/∂ρ
  RowMatrix hessian;   ///< symmetric, by central differences of the gradient
};

struct ValueAndGradient {
  double value = 0.0;
  Vector gradient;
};

}  // namespace krelm
