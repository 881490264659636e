// Sum-to-zero centring and penalty scaling.
#include "transform/centring.hpp"

#include <gtest/gtest.h>

#include <array>

namespace krelm {
namespace {

struct CentringCase {
  const char* label;
  std::vector<double> g;
};

TEST(CentringFromConstraint, OrthonormalNullSpaceOfTheConstraint) {
  const std::array cases = {
      CentringCase{"positive first entry", {3.0, 1.0, 4.0, 1.0, 5.0}},
      CentringCase{"negative first entry", {-2.5, 0.5, 7.0}},
      CentringCase{"zero first entry", {0.0, 2.0, -1.0, 0.25}},
      CentringCase{"a single direction", {0.0, 0.0, 3.0}},
      CentringCase{"two entries", {1.0, 1.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto size = static_cast<Eigen::Index>(c.g.size());
    const Vector g = Eigen::Map<const Vector>(c.g.data(), size);
    const RowMatrix z = centring_from_constraint(g);
    ASSERT_EQ(z.rows(), size);
    ASSERT_EQ(z.cols(), size - 1);
    // A reflector is orthogonal to working precision.
    EXPECT_LT((g.transpose() * z).cwiseAbs().maxCoeff(), 1e-14 * g.norm());
    EXPECT_LT((z.transpose() * z - RowMatrix::Identity(size - 1, size - 1)).cwiseAbs().maxCoeff(),
              1e-15 * 8);
  }
}

TEST(CentringFromConstraint, NegligibleConstraintKeepsTheFirstCoordinates) {
  const Vector g = Vector::Constant(4, 1e-17);  // norm 2e-17 < machine epsilon
  RowMatrix expected = RowMatrix::Zero(4, 3);
  expected.topRows(3).setIdentity();
  EXPECT_EQ(centring_from_constraint(g), expected);
}

TEST(ColumnSums, SumsOverRows) {
  RowMatrix x(3, 2);
  x << 1.0, -2.0, 0.5, 4.0, 0.25, 8.0;
  const Vector sums = column_sums(x);
  EXPECT_EQ(sums(0), 1.75);
  EXPECT_EQ(sums(1), 10.0);
  EXPECT_EQ(column_sums(RowMatrix(0, 3)), Vector::Zero(3));
}

TEST(ScalePenalty, RatioOfSquaredBasisNormToPenaltyNorm) {
  RowMatrix basis(2, 2);
  basis << 1.0, -2.0, 0.5, 0.5;  // largest absolute row sum 3
  RowMatrix penalty(2, 2);
  penalty << 1.0, -1.0, -1.0, 1.0;  // largest absolute row sum 2
  EXPECT_EQ(scale_penalty(basis, penalty), 4.5 * penalty);
  const RowMatrix zero = RowMatrix::Zero(2, 2);
  EXPECT_EQ(scale_penalty(basis, zero), zero);
  // No data rows: the basis norm is 0, and so is the scaled penalty.
  EXPECT_EQ(scale_penalty(RowMatrix(0, 2), penalty), zero);
}

}  // namespace
}  // namespace krelm
