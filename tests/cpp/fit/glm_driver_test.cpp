// The exponential-family driver: the returned ρ minimises the score, and the record is
// complete and consistent.
#include "fit/glm_driver.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "../support/test_models.hpp"
#include "score/envelope.hpp"

namespace krelm {
namespace {

struct DriverCase {
  const char* label;
  FamilyKind family;
};

constexpr std::array driver_cases = {
    DriverCase{"gaussian", FamilyKind::Gaussian},
    DriverCase{"poisson", FamilyKind::Poisson},
    DriverCase{"quasipoisson", FamilyKind::QuasiPoisson},
    DriverCase{"bernoulli", FamilyKind::Bernoulli},
    DriverCase{"quasibinomial", FamilyKind::QuasiBinomial},
    DriverCase{"gamma", FamilyKind::Gamma},
    DriverCase{"inverse gaussian", FamilyKind::InverseGaussian},
};

TEST(FitGlm, ReturnedRhoMinimisesTheScore) {
  for (const auto& c : driver_cases) {
    SCOPED_TRACE(c.label);
    const auto data = testing::simulate(c.family, 400);
    const auto fit = fit_glm(c.family, testing::cr_design_of(data.x, 10), 400, data.y, {});
    ASSERT_TRUE(fit.has_value()) << fit.error().display();
    EXPECT_TRUE(fit->converged);
    Design design = testing::cr_design_of(data.x, 10);
    const ScoreContext context = make_score_context(c.family, design, data.y, {});
    const auto at_optimum = laml_score(context, fit->rho);
    ASSERT_TRUE(at_optimum.has_value());
    EXPECT_DOUBLE_EQ(at_optimum->value, fit->reml_value);
    EXPECT_LT(std::abs(at_optimum->gradient(0)), 5e-7 * (std::abs(fit->reml_value) + 1.0) + 1e-3);
    for (const double shift : {-0.1, 0.1}) {
      const Vector moved = fit->rho.array() + shift;
      EXPECT_GE(laml_score(context, moved)->value, fit->reml_value);
    }
    EXPECT_EQ(fit->lambda(0), std::exp(fit->rho(0)));
    EXPECT_NEAR(fit->edf_per_term(0), fit->edf_total - 1.0, 1e-9);
    EXPECT_EQ(fit->vcov.rows(), 10);
  }
}

TEST(FitGlm, ChecksDataInOrder) {
  const auto data = testing::simulate(FamilyKind::Poisson, 20);
  Vector negative = data.y;
  negative(3) = -1.0;
  const auto rows =
      fit_glm(FamilyKind::Poisson, testing::cr_design_of(data.x, 5), 21, negative, Vector::Ones(4));
  ASSERT_FALSE(rows.has_value());
  EXPECT_EQ(error_message(rows.error()),
            "x and y must have the same number of rows; got x.nrows()=21, y.len()=20");
  const auto weights =
      fit_glm(FamilyKind::Poisson, testing::cr_design_of(data.x, 5), 20, negative, Vector::Ones(4));
  EXPECT_EQ(error_message(weights.error()),
            "prior_weights length must match x rows; got weights.len()=4, x.nrows()=20");
  const auto domain =
      fit_glm(FamilyKind::Poisson, testing::cr_design_of(data.x, 5), 20, negative, {});
  EXPECT_EQ(error_message(domain.error()), "Poisson requires y ≥ 0; got y=-1 at row 3");
}

}  // namespace
}  // namespace krelm
