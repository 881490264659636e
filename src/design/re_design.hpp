// The random-effect (ridge) term: one indicator column per distinct covariate value, penalised
// by the identity, with no centring and no scaling; and the single-smooth "re" design.
#pragma once

#include <cstddef>

#include "../error.hpp"
#include "../matrix.hpp"
#include "design.hpp"

namespace krelm {

/// One random-effect term.
struct ReTerm {
  Vector levels;    ///< L distinct values, ascending, bitwise distinct, no −0.0
  RowMatrix basis;  ///< X_re, n × L indicators
};

/// The random-effect term of column `col` of x (col < d is the caller's duty). −0.0 counts as
/// 0.0. Error: InvalidParameter "Re basis: x is empty" when x has no rows.
[[nodiscard]] Expected<ReTerm> build_re_term(const MatrixRef& x, std::size_t col);

/// n × L indicators: row r has 1.0 in the column of the level with exactly the bit pattern of
/// values[r] (−0.0 looked up as 0.0); a value that is no level leaves its row zero.
[[nodiscard]] RowMatrix re_indicator(const Vector& levels, const VectorRef& values);

/// The design of a single random effect on column 0: [1 | X_re], identity penalty on the level
/// columns, Re predictor. Error: that of build_re_term.
[[nodiscard]] Expected<Design> build_re_design(const MatrixRef& x);

}  // namespace krelm
