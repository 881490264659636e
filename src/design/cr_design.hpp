// The centred cubic regression spline term and the single-smooth "cr" design built on it.
#pragma once

#include <cstddef>

#include "../error.hpp"
#include "../matrix.hpp"
#include "design.hpp"

namespace krelm {

/// One centred cr term over k knots.
struct CrTerm {
  Vector knots;        ///< k knots
  RowMatrix centring;  ///< Z, k × (k−1), orthonormal columns, gᵀZ = 0
  RowMatrix basis;     ///< X_c = X_raw·Z, n × (k−1)
  RowMatrix penalty;   ///< S_c = Zᵀ·(φ·S)·Z, (k−1) × (k−1)
};

/// The centred cr term of column `col` of the n × d covariates `x` (col < d is the caller's
/// duty). Errors: the knot-placement errors of place_knots.
[[nodiscard]] Expected<CrTerm> build_cr_term(const MatrixRef& x, std::size_t col, std::size_t k);

/// The design of a single cr smooth of column 0: [1 | X_c], one penalty, Cr predictor.
/// Errors: the knot-placement errors of place_knots.
[[nodiscard]] Expected<Design> build_cr_design(const MatrixRef& x, std::size_t k);

}  // namespace krelm
