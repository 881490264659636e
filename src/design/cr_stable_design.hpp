// The "cr_stable" design: the centred cr term re-expressed in the eigenbasis of its penalty,
// so that the penalty is diagonal with descending entries. Same function space as "cr".
#pragma once

#include <cstddef>

#include "../error.hpp"
#include "../matrix.hpp"
#include "design.hpp"

namespace krelm {

/// Eigen-reparametrisation of an m × m symmetric inner penalty. Invariant: `reparam_v` is
/// m × m orthogonal and column c belongs to `eigenvalues[c]`, the c-th largest.
struct StableReparam {
  RowMatrix reparam_v;  ///< V, m × m
  Vector eigenvalues;   ///< descending, neither thresholded nor rescaled

  /// Errors: InvalidParameter "StableReparam: inner_penalty must be ({m}, {m}); got ({rows},
  /// {cols})"; Linalg "eigh failed in StableReparam: {detail}".
  [[nodiscard]] static Expected<StableReparam> create(const RowMatrix& inner_penalty,
                                                      std::size_t m);
};

/// One cr_stable term over k knots (m = k − 1).
struct CrStableTerm {
  Vector knots;         ///< k knots
  RowMatrix centring;   ///< Z, k × m
  RowMatrix reparam_v;  ///< V, m × m
  RowMatrix basis;      ///< X_s = (X_raw·Z)·V, n × m
  RowMatrix penalty;    ///< S_s = (Vᵀ·S_c)·V, m × m, diagonal up to rounding, descending
};

/// The cr_stable term of column `col` of x (col < d is the caller's duty). Errors: those of
/// place_knots and StableReparam::create.
[[nodiscard]] Expected<CrStableTerm> build_cr_stable_term(const MatrixRef& x, std::size_t col,
                                                          std::size_t k);

/// The design of a single cr_stable smooth of column 0: [1 | X_s], one penalty, CrStable
/// predictor. Errors: those of build_cr_stable_term.
[[nodiscard]] Expected<Design> build_cr_stable_design(const MatrixRef& x, std::size_t k);

}  // namespace krelm
