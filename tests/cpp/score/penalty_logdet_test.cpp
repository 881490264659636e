// Grouped penalty log determinants: a tensor term's penalties share columns, so the score
// must use the generalised log determinant of their weighted sum.
#include "score/penalty_logdet.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "design/additive_design.hpp"
#include "score/envelope.hpp"

namespace krelm {
namespace {

RowMatrix uniform_covariates(Eigen::Index n, Eigen::Index d, unsigned seed) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  RowMatrix x(n, d);
  for (auto& v : x.reshaped()) {
    v = uniform(engine);
  }
  return x;
}

// (f(ρ + h·e_j) − f(ρ − h·e_j))/(2h) with h = 1e-5.
template <class Function>
double central_difference(const Function& f, const Vector& rho, Eigen::Index j) {
  const double h = 1e-5;
  Vector plus = rho;
  plus(j) += h;
  Vector minus = rho;
  minus(j) -= h;
  return (f(plus) - f(minus)) / (2 * h);
}

Design tensor_design(const RowMatrix& x) {
  return *build_additive_design(x,
                                {TermSpec{CrTermSpec{0, 6}}, TermSpec{TensorTermSpec{1, 2, 5, 4}}});
}

// Dense reference: sum of ln of the r_B largest eigenvalues of S_B = Σ λ_j S_j.
double dense_log_pdet(const std::vector<PenaltyBlock>& penalties, const Vector& rho,
                      std::size_t first, std::size_t count, std::size_t rank) {
  RowMatrix sum = RowMatrix::Zero(penalties[0].matrix.rows(), penalties[0].matrix.cols());
  for (std::size_t j = first; j < first + count; ++j) {
    sum += std::exp(rho(static_cast<Eigen::Index>(j))) * penalties[j].matrix;
  }
  Eigen::SelfAdjointEigenSolver<RowMatrix> eigen(sum);
  double total = 0.0;
  for (std::size_t k = 0; k < rank; ++k) {
    total += std::log(eigen.eigenvalues()(sum.rows() - 1 - static_cast<Eigen::Index>(k)));
  }
  return total;
}

TEST(PenaltyLogDet, GroupsSharedColumnsAndMatchesDenseReference) {
  const RowMatrix x = uniform_covariates(300, 3, 5);
  const Design design = tensor_design(x);
  ASSERT_EQ(design.penalties.size(), 3U);
  const PenaltyLogDet log_det = PenaltyLogDet::create(design.penalties);
  // cr(6): rank 4; tensor 5 × 4 centred: its two margins together leave only the
  // bilinear-free null space (2·2 − 1 after centring) unpenalised.
  EXPECT_EQ(log_det.total_rank(), 4U + 19U - 3U);
  Vector rho(3);
  rho << 0.3, -1.0, 2.0;
  const auto value = log_det.evaluate(rho);
  const double expected = static_cast<double>(design.penalties[0].rank) * rho(0) +
                          design.penalties[0].log_pdet +
                          dense_log_pdet(design.penalties, rho, 1, 2, 16);
  EXPECT_NEAR(value.log_det, expected, 1e-9 * std::abs(expected));
  for (Eigen::Index j = 0; j < 3; ++j) {
    const double difference =
        central_difference([&](const Vector& at) { return log_det.evaluate(at).log_det; }, rho, j);
    EXPECT_NEAR(value.derivative(j), difference, 1e-6 * std::max(1.0, std::abs(difference)));
  }
}

TEST(PenaltyLogDet, StaysAccurateWhenSmoothingParametersDifferByManyOrders) {
  const RowMatrix x = uniform_covariates(200, 3, 7);
  const Design design = tensor_design(x);
  const PenaltyLogDet log_det = PenaltyLogDet::create(design.penalties);
  for (const double spread : {10.0, 25.0, 40.0}) {
    Vector rho(3);
    rho << 0.0, spread, -spread;
    const auto value = log_det.evaluate(rho);
    // Along the diagonal both λ scale together: log|tS|₊ = r·log t + log|S|₊ exactly.
    Vector shifted = rho;
    shifted(1) += 1.0;
    shifted(2) += 1.0;
    const auto moved = log_det.evaluate(shifted);
    EXPECT_NEAR(moved.log_det - value.log_det, 16.0, 1e-6);
    EXPECT_TRUE(std::isfinite(value.derivative(1)) && std::isfinite(value.derivative(2)));
    EXPECT_NEAR(value.derivative(1) + value.derivative(2), 16.0, 1e-6);
  }
}

TEST(TensorScore, IsBoundedAlongTheDiagonalAndItsGradientIsExact) {
  const RowMatrix x = uniform_covariates(400, 3, 9);
  Vector y(400);
  for (Eigen::Index i = 0; i < 400; ++i) {
    y(i) =
        std::sin(3.0 * x(i, 0)) + x(i, 1) * x(i, 2) + 0.1 * std::cos(17.0 * static_cast<double>(i));
  }
  Design design = tensor_design(x);
  const ScoreContext context = make_score_context(FamilyKind::Gaussian, design, y, {});
  std::vector<double> values;
  // Beyond λ ≈ e²⁰ the solver's ridge (1e-12 of the largest diagonal) starts to matter.
  for (const double t : {0.0, 10.0, 15.0, 20.0}) {
    Vector rho(3);
    rho << 0.0, t, t;
    values.push_back(laml_score(context, rho)->value);
  }
  // Levels off instead of falling by ½·(k_a − 2)(k_b − 2) = 3 per unit of t.
  EXPECT_NEAR(values[3], values[2], 1e-3);
  EXPECT_NEAR(values[2], values[1], 0.1);
  EXPECT_GT(values[3], values[0] - 30.0);
  Vector rho(3);
  rho << 0.5, 1.0, -0.5;
  const auto score = laml_score(context, rho);
  for (Eigen::Index j = 0; j < 3; ++j) {
    const double difference = central_difference(
        [&](const Vector& at) { return laml_score(context, at)->value; }, rho, j);
    EXPECT_NEAR(score->gradient(j), difference, 1e-6 * std::max(1.0, std::abs(difference)));
  }
}

}  // namespace
}  // namespace krelm
