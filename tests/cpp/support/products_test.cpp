// BLAS products against plain Eigen references (row-major buffers are transposed for BLAS).
#include "products.hpp"

#include <gtest/gtest.h>

#include <random>

namespace krelm {
namespace {

RowMatrix random_matrix(Eigen::Index rows, Eigen::Index cols, unsigned seed) {
  std::mt19937 engine(seed);
  std::normal_distribution<double> normal;
  RowMatrix m(rows, cols);
  for (auto& v : m.reshaped()) {
    v = normal(engine);
  }
  return m;
}

TEST(WeightedGram, MatchesDenseReferenceForSignedAndPositiveWeights) {
  // 5000 rows crosses the block boundary of the blocked product.
  const RowMatrix x = random_matrix(5000, 7, 3);
  Vector positive = random_matrix(5000, 1, 4).col(0).cwiseAbs();
  Vector signed_weights = random_matrix(5000, 1, 5).col(0);
  for (const Vector* weights : {&positive, &signed_weights}) {
    const RowMatrix expected = x.transpose() * weights->asDiagonal() * x;
    const RowMatrix gram = weighted_gram(x, as_span(*weights));
    EXPECT_LT((gram - expected).norm(), 1e-10 * expected.norm());
    EXPECT_TRUE(gram.isApprox(gram.transpose(), 0.0));
  }
  const RowMatrix unweighted = weighted_gram(x, {});
  EXPECT_LT((unweighted - x.transpose() * x).norm(), 1e-10 * unweighted.norm());
}

TEST(DesignProducts, MatchDenseReference) {
  const RowMatrix x = random_matrix(13, 4, 6);
  const Vector beta = Vector::LinSpaced(4, -1.0, 2.0);
  EXPECT_LT((design_times(x, beta) - x * beta).norm(), 1e-13);
  const Vector w = Vector::LinSpaced(13, 0.5, 2.0);
  const Vector v = Vector::LinSpaced(13, -3.0, 1.0);
  const Vector expected = x.transpose() * w.cwiseProduct(v);
  EXPECT_LT((weighted_cross_product(x, as_span(w), as_span(v)) - expected).norm(), 1e-12);
}

}  // namespace
}  // namespace krelm
