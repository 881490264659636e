// Penalty helpers shared by all designs: rank and log pseudo-determinant, the weighted sum.
#include "design/design.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace krelm {
namespace {

RowMatrix diagonal_of(std::initializer_list<double> values) {
  Vector diagonal(static_cast<Eigen::Index>(values.size()));
  Eigen::Index i = 0;
  for (const double value : values) {
    diagonal(i++) = value;
  }
  return diagonal.asDiagonal();
}

// A fixed rotation so the eigen-solver has real work to do.
RowMatrix rotated(const RowMatrix& diagonal) {
  const Eigen::Index n = diagonal.rows();
  RowMatrix seed = RowMatrix::Zero(n, n);
  for (Eigen::Index r = 0; r < n; ++r) {
    for (Eigen::Index c = 0; c < n; ++c) {
      seed(r, c) = std::sin(static_cast<double>(3 * r + 7 * c + 1));
    }
  }
  const RowMatrix q = Eigen::HouseholderQR<RowMatrix>(seed).householderQ();
  return q * diagonal * q.transpose();
}

struct RankCase {
  const char* label;
  RowMatrix penalty;
  std::size_t rank;
  double log_pdet;
};

TEST(PenaltyRankLogdet, CountsEigenvaluesAboveTheRelativeThreshold) {
  const std::array cases = {
      RankCase{"two positive, one zero, one tiny", diagonal_of({3.0, 0.0, 2.0, 1e-12}), 2,
               std::log(6.0)},
      // τ = 1e-10·1e12 = 100: only the largest eigenvalue counts.
      RankCase{"threshold grows with the largest", diagonal_of({1e12, 10.0, 1e-3}), 1,
               std::log(1e12)},
      // τ = 1e-10·max(1, 1e-5) = 1e-10: small penalties are not rescaled to rank 3.
      RankCase{"threshold floored at 1e-10", diagonal_of({1e-5, 1e-9, 1e-11}), 2,
               std::log(1e-5) + std::log(1e-9)},
      RankCase{"zero matrix", RowMatrix::Zero(3, 3), 0, 0.0},
      RankCase{"negative eigenvalues do not count", diagonal_of({-4.0, 2.0}), 1, std::log(2.0)},
      RankCase{"rotated", rotated(diagonal_of({5.0, 0.0, 0.5, 0.0})), 2, std::log(2.5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const RankLogDet result = penalty_rank_logdet(c.penalty);
    EXPECT_EQ(result.rank, c.rank);
    EXPECT_NEAR(result.log_pdet, c.log_pdet, 1e-12);
  }
}

TEST(PenaltySum, WeightsEachPenaltyByExpRho) {
  const RowMatrix a = rotated(diagonal_of({1.0, 2.0, 0.0}));
  const RowMatrix b = diagonal_of({0.0, 3.0, 0.5});
  EXPECT_EQ(penalty_sum({a}, Vector::Zero(1)), a);
  Vector rho(3);
  rho << std::log(2.0), -1.0, 99.0;  // entries beyond the penalties are ignored
  const RowMatrix expected = a * std::exp(std::log(2.0)) + b * std::exp(-1.0);
  EXPECT_LT((penalty_sum({a, b}, rho) - expected).cwiseAbs().maxCoeff(), 1e-15);
}

TEST(SingleSmoothDesign, EmbedsThePenaltyAfterTheIntercept) {
  const RowMatrix block = RowMatrix::Constant(4, 2, 0.5);
  const Design design = single_smooth_design(block, diagonal_of({2.0, 0.0}), Predictor{});
  RowMatrix expected_matrix(4, 3);
  expected_matrix << 1, 0.5, 0.5, 1, 0.5, 0.5, 1, 0.5, 0.5, 1, 0.5, 0.5;
  EXPECT_EQ(design.model_matrix, expected_matrix);
  ASSERT_EQ(design.penalties.size(), 1U);
  EXPECT_EQ(design.penalties[0].matrix, diagonal_of({0.0, 2.0, 0.0}));
  EXPECT_EQ(design.penalties[0].rank, 1U);
  EXPECT_EQ(design.null_space_dim, 2U);
}

}  // namespace
}  // namespace krelm
