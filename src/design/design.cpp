// The penalty helpers shared by the design builders, drivers and inner solvers: rank and
// log pseudo-determinant, the weighted sum S_λ, and the embedding of term penalties.
#include "design.hpp"

#include <algorithm>
#include <cmath>

#include "../internal_fault.hpp"
#include "../linalg.hpp"

namespace krelm {

namespace {

// Eigenvalues at or below this fraction of max(1, largest) count as zero: penalties are built
// from O(1)-scaled pieces, so anything this small is rounding, not wiggliness.
constexpr double rank_tolerance = 1e-10;

}  // namespace

RankLogDet penalty_rank_logdet(const RowMatrix& penalty) {
  const auto eigen = symmetric_eigen(penalty);
  if (!eigen) {
    internal_fault("penalty eigendecomposition failed");
  }
  double largest = 0.0;
  for (const double value : eigen->values) {
    if (value > largest) {  // a NaN never wins
      largest = value;
    }
  }
  const double threshold = rank_tolerance * std::max(1.0, largest);
  RankLogDet result;
  for (const double value : eigen->values) {
    if (value > threshold) {
      ++result.rank;
      result.log_pdet += std::log(value);
    }
  }
  return result;
}

RowMatrix penalty_sum(const std::vector<RowMatrix>& penalties, const Vector& rho) {
  if (penalties.empty() || rho.size() < static_cast<Eigen::Index>(penalties.size())) {
    internal_fault("penalty_sum: needs at least one penalty and one rho per penalty");
  }
  const Eigen::Index p = penalties.front().rows();
  RowMatrix total = RowMatrix::Zero(p, p);
  for (std::size_t j = 0; j < penalties.size(); ++j) {
    const RowMatrix& penalty = penalties[j];
    if (penalty.rows() != p || penalty.cols() != p) {
      internal_fault("penalty_sum: penalties of different sizes");
    }
    const double lambda = std::exp(rho(static_cast<Eigen::Index>(j)));
    total = penalty * lambda + total;
  }
  return total;
}

RowMatrix prepend_intercept(const RowMatrix& block) {
  RowMatrix result(block.rows(), block.cols() + 1);
  result.col(0).setOnes();
  result.rightCols(block.cols()) = block;
  return result;
}

RowMatrix embed_penalty(const RowMatrix& term_penalty, std::size_t p, std::size_t first) {
  const auto size = static_cast<Eigen::Index>(p);
  const auto offset = static_cast<Eigen::Index>(first);
  if (term_penalty.rows() != term_penalty.cols() || offset + term_penalty.rows() > size) {
    internal_fault("embed_penalty: term penalty does not fit the model size");
  }
  RowMatrix embedded = RowMatrix::Zero(size, size);
  embedded.block(offset, offset, term_penalty.rows(), term_penalty.cols()) = term_penalty;
  return embedded;
}

Design single_smooth_design(const RowMatrix& block, const RowMatrix& term_penalty,
                            Predictor predictor) {
  Design design;
  design.model_matrix = prepend_intercept(block);
  const auto p = static_cast<std::size_t>(design.model_matrix.cols());
  RowMatrix penalty = embed_penalty(term_penalty, p, 1);
  const RankLogDet rank_logdet = penalty_rank_logdet(penalty);
  design.penalties.push_back(
      PenaltyBlock{std::move(penalty), rank_logdet.rank, rank_logdet.log_pdet});
  design.null_space_dim = p > rank_logdet.rank ? p - rank_logdet.rank : 0;
  design.predictor = std::move(predictor);
  return design;
}

}  // namespace krelm
