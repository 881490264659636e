// The state needed to rebuild a model matrix at new covariates, one variant per design
// kind. Stored with every fit and written by the persistence layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

#include "../error.hpp"
#include "../matrix.hpp"

namespace krelm {

/// Margin basis kind of a tensor term; the cubic regression spline is the only one.
enum class MarginBasis { Cr };

struct CrPredictor {
  Vector knots;        ///< k knots, strictly increasing
  RowMatrix centring;  ///< Z, k × (k−1)
};

struct RePredictor {
  Vector levels;  ///< L levels, ascending, bitwise distinct
};

struct CrStablePredictor {
  Vector knots;
  RowMatrix centring;   ///< Z, k × (k−1)
  RowMatrix reparam_v;  ///< V, (k−1) × (k−1)
};

struct TensorPredictor {
  std::uint64_t col_a = 0;
  std::uint64_t col_b = 0;
  MarginBasis bs_a = MarginBasis::Cr;
  MarginBasis bs_b = MarginBasis::Cr;
  Vector knots_a;
  Vector knots_b;
  RowMatrix xp_a;      ///< k_a × k_a
  RowMatrix xp_b;      ///< k_b × k_b
  RowMatrix centring;  ///< Z, k_a·k_b × (k_a·k_b − 1)
};

struct Predictor;

struct AdditivePredictor {
  std::vector<Predictor> term_predictors;
  std::vector<std::vector<std::uint64_t>> cols_used;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> term_col_ranges;  ///< [first, last)
};

/// Tagged union in the order Cr, Re, CrStable, Additive, Tensor.
struct Predictor {
  std::variant<CrPredictor, RePredictor, CrStablePredictor, AdditivePredictor, TensorPredictor>
      value;
};

/// Rebuilds the n × p model matrix [1 | term columns] at the covariates `x` (n × d).
/// Errors: InvalidParameter for too-narrow x, invalid stored knots, or stored arrays whose
/// shapes disagree (a predictor read back from altered bytes); nothing is read out of bounds.
[[nodiscard]] Expected<RowMatrix> rebuild(const Predictor& predictor, const MatrixRef& x);

/// p, the width of the model matrix the predictor rebuilds (intercept included), read from
/// the shapes of its stored arrays.
[[nodiscard]] std::size_t predictor_width(const Predictor& predictor);

}  // namespace krelm
