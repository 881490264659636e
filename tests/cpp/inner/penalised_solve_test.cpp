// The penalised Cholesky solve: ridge size, ridged solution, refusal of singular systems.
#include "inner/penalised_solve.hpp"

#include <gtest/gtest.h>

#include <array>

namespace krelm {
namespace {

struct RidgeCase {
  const char* label;
  double diagonal_scale;
  double expected_ridge;
};

TEST(PenalisedCholeskySolve, SolvesTheRidgedSystemWithTheDocumentedRidge) {
  const std::array cases = {
      RidgeCase{"small diagonal uses the floor of one", 0.5, 1e-12},
      RidgeCase{"large diagonal scales the ridge", 1e6, 1e-6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RowMatrix a(3, 3);
    a << 1.0, 0.2, 0.1, 0.2, 0.8, 0.3, 0.1, 0.3, 0.9;
    a *= c.diagonal_scale;
    a(0, 0) = c.diagonal_scale;  // the largest |diagonal| sets the ridge
    const Vector b = Vector::LinSpaced(3, 1.0, 3.0);
    const auto solved = penalised_cholesky_solve(a, b);
    ASSERT_TRUE(solved.has_value());
    RowMatrix ridged = a;
    ridged.diagonal().array() += c.expected_ridge;
    const Vector exact = ridged.llt().solve(b);
    EXPECT_LT((solved->beta - exact).norm(), 1e-12 * exact.norm());
    // The factor returned is that of A itself, without the ridge.
    const RowMatrix rebuilt = solved->lower * solved->lower.transpose();
    EXPECT_LT((rebuilt - a).norm(), 1e-12 * a.norm());
    EXPECT_TRUE(solved->lower.triangularView<Eigen::StrictlyUpper>().toDenseMatrix().isZero());
  }
}

TEST(PenalisedCholeskySolve, RefusesAMatrixThatIsNotPositiveDefinite) {
  // The Gram matrix of two identical columns, without a penalty: singular, and the
  // ridge must not rescue it.
  RowMatrix gram(2, 2);
  gram << 1.0, 1.0, 1.0, 1.0;
  const auto solved = penalised_cholesky_solve(gram, Vector::Ones(2));
  ASSERT_FALSE(solved.has_value());
  EXPECT_EQ(solved.error().display(),
            "singular system: Cholesky failed: Computational failure in LAPACK subroutine: "
            "return_code = 2");

  RowMatrix indefinite(2, 2);
  indefinite << 1.0, 0.0, 0.0, -1.0;
  const auto refused = penalised_cholesky_solve(indefinite, Vector::Ones(2));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(error_message(refused.error()),
            "Cholesky failed: Computational failure in LAPACK subroutine: return_code = 2");
}

}  // namespace
}  // namespace krelm
