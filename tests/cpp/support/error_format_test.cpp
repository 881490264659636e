// Error display texts and the number formatting of messages.
#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "error.hpp"
#include "format.hpp"
#include "linalg.hpp"

namespace krelm {
namespace {

struct FloatCase {
  double value;
  const char* expected;
};

TEST(FormatFloat, ShortestRoundTripWithoutExponent) {
  const std::array cases = {
      FloatCase{2.0, "2"},
      FloatCase{-1.0, "-1"},
      FloatCase{1e-7, "0.0000001"},
      FloatCase{0.1, "0.1"},
      FloatCase{1.5e10, "15000000000"},
      FloatCase{std::numeric_limits<double>::quiet_NaN(), "NaN"},
      FloatCase{std::numeric_limits<double>::infinity(), "inf"},
      FloatCase{-std::numeric_limits<double>::infinity(), "-inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(format_float(c.value), c.expected);
  }
}

TEST(FormatScientific3, MantissaAndBareExponent) {
  EXPECT_EQ(format_scientific3(0.000123456), "1.235e-4");
  EXPECT_EQ(format_scientific3(12345.6), "1.235e4");
  EXPECT_EQ(format_scientific3(0.0), "0.000e0");
  EXPECT_EQ(format_scientific3(0.00123), "1.230e-3");
}

TEST(KrelmError, DisplayAndDebugTexts) {
  EXPECT_EQ(invalid_parameter("bad").display(), "invalid parameter: bad");
  EXPECT_EQ(singular_system("s").display(), "singular system: s");
  EXPECT_EQ(linalg_error("l").display(), "linalg failure: l");
  EXPECT_EQ(not_converged(50, 0.00123).display(),
            "solver did not converge after 50 iterations (last grad norm = 1.230e-3)");
  EXPECT_EQ(invalid_parameter("bad").debug(), "InvalidParameter(\"bad\")");
  EXPECT_EQ(lapack_failure_text(3), "Computational failure in LAPACK subroutine: return_code = 3");
  EXPECT_EQ(lapack_failure_text(-4), "Invalid value for LAPACK subroutine 4-th argument");
}

TEST(SymmetricEigen, MatchesEigenOnANonDiagonalMatrix) {
  RowMatrix a(3, 3);
  a << 4, 1, 2, 1, 3, 0.5, 2, 0.5, 5;
  const auto eigen = symmetric_eigen(a);
  ASSERT_TRUE(eigen.has_value());
  for (Eigen::Index c = 0; c < 3; ++c) {
    const Vector residual = a * eigen->vectors.col(c) - eigen->values(c) * eigen->vectors.col(c);
    EXPECT_LT(residual.norm(), 1e-12);
  }
  EXPECT_LT(eigen->values(0), eigen->values(2));
}

TEST(LuSolve, SolvesANonSymmetricSystem) {
  RowMatrix a(3, 3);
  a << 2, 1, 0, 0, 3, 1, 4, 0, 1;
  const Vector b(Vector::LinSpaced(3, 1.0, 3.0));
  const auto solved = lu_solve(a, b);
  ASSERT_TRUE(solved.has_value());
  EXPECT_LT((a * *solved - b).norm(), 1e-13);
}

}  // namespace
}  // namespace krelm
