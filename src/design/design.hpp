// What every design builder hands to the fit drivers: the model matrix, its penalties
// (each at full size p × p) and the predictor that rebuilds the matrix later.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "../matrix.hpp"
#include "predictor.hpp"

namespace krelm {

struct PenaltyBlock {
  RowMatrix matrix;       ///< S_j, p × p, zero outside its term's rows and columns
  std::size_t rank = 0;   ///< numerical rank of S_j
  double log_pdet = 0.0;  ///< sum of ln of the eigenvalues counted in `rank`
};

struct Design {
  Predictor predictor;
  RowMatrix model_matrix;               ///< n × p, column 0 all ones
  std::vector<PenaltyBlock> penalties;  ///< one per smoothing parameter, non-empty
  std::size_t null_space_dim = 0;       ///< p − Σ rank_j, floored at 0
};

struct RankLogDet {
  std::size_t rank = 0;
  double log_pdet = 0.0;
};

/// Rank (eigenvalues > 1e-10·max(1, largest)) and log pseudo-determinant of a symmetric
/// penalty. An eigen-solver failure is an internal fault.
[[nodiscard]] RankLogDet penalty_rank_logdet(const RowMatrix& penalty);

/// S_λ = Σ_j exp(ρ_j)·S_j in list order; p from the first matrix. Needs ≥ 1 matrix and
/// rho.size() ≥ matrices.size().
[[nodiscard]] RowMatrix penalty_sum(const std::vector<RowMatrix>& penalties, const Vector& rho);

/// [1 | block]: the block's n rows with an intercept column of 1.0 in front.
[[nodiscard]] RowMatrix prepend_intercept(const RowMatrix& block);

/// p × p zeros with the w × w `term_penalty` in rows and columns [first, first + w).
[[nodiscard]] RowMatrix embed_penalty(const RowMatrix& term_penalty, std::size_t p,
                                      std::size_t first);

/// The one-smooth design [1 | block] with its single penalty embedded from column 1 and
/// null_space_dim = p − rank.
[[nodiscard]] Design single_smooth_design(const RowMatrix& block, const RowMatrix& term_penalty,
                                          Predictor predictor);

}  // namespace krelm
