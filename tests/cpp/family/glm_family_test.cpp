// PIRLS pieces of the nine PIRLS families: guards at the edges of the domain, starting
// values, inverse links, working weights against closed forms, and the domain messages.
#include "family/glm_family.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "error.hpp"
#include "family/family.hpp"

namespace krelm {
namespace {

constexpr double nan_value = std::numeric_limits<double>::quiet_NaN();

PirlsFamily family_of(FamilyKind kind) { return PirlsFamily{.kind = kind}; }

Vector vector_of(std::initializer_list<double> values) {
  Vector v(static_cast<Eigen::Index>(values.size()));
  Eigen::Index i = 0;
  for (const double value : values) {
    v[i++] = value;
  }
  return v;
}

TEST(FamilyKinds, LinksAndNames) {
  struct Case {
    FamilyKind kind;
    LinkKind link;
    const char* name;
  };
  const std::array cases = {
      Case{FamilyKind::Gaussian, LinkKind::Identity, "Gaussian"},
      Case{FamilyKind::Bernoulli, LinkKind::Logit, "Bernoulli"},
      Case{FamilyKind::Poisson, LinkKind::Log, "Poisson"},
      Case{FamilyKind::QuasiPoisson, LinkKind::Log, "QuasiPoisson"},
      Case{FamilyKind::QuasiBinomial, LinkKind::Logit, "QuasiBinomial"},
      Case{FamilyKind::Gamma, LinkKind::Log, "Gamma"},
      Case{FamilyKind::InverseGaussian, LinkKind::Log, "InverseGaussian"},
      Case{FamilyKind::NegBin, LinkKind::Log, "NegBin"},
      Case{FamilyKind::TDist, LinkKind::Identity, "TDist"},
      Case{FamilyKind::Tweedie, LinkKind::Log, "Tweedie"},
      Case{FamilyKind::Ocat, LinkKind::Identity, "Ocat"},
      Case{FamilyKind::Elf, LinkKind::Identity, "ELF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(link_kind_of(c.kind), c.link);
    EXPECT_EQ(display_name(c.kind), c.name);
  }
}

struct DevianceCase {
  const char* label;
  PirlsFamily family;
  double y;
  double mu;
  double expected;
  double tolerance;
};

TEST(UnitDeviance, GuardedValuesAtTheEdges) {
  const PirlsFamily negbin{.kind = FamilyKind::NegBin, .theta = 2.0};
  const PirlsFamily tweedie{.kind = FamilyKind::Tweedie, .power = 1.5};
  const PirlsFamily tdist{.kind = FamilyKind::TDist, .nu = 3.0, .sigma2 = 1.0};
  const std::array cases = {
      DevianceCase{"Poisson y=0 contributes 2μ", family_of(FamilyKind::Poisson), 0.0, 1.7, 3.4,
                   1e-15},
      DevianceCase{"Poisson at μ = y", family_of(FamilyKind::Poisson), 3.0, 3.0, 0.0, 0.0},
      DevianceCase{"Poisson NaN mean is floored", family_of(FamilyKind::Poisson), 0.0, nan_value,
                   2e-300, 0.0},
      DevianceCase{"QuasiPoisson is Poisson", family_of(FamilyKind::QuasiPoisson), 0.0, 1.7, 3.4,
                   1e-15},
      // 2·log(1/(1 − 1e-15)) ≈ 2e-15: the probability clamp keeps the log finite. The
      // quotient rounds to 1 + 5 ulps, so the double result is 2.22e-15.
      DevianceCase{"Bernoulli y=0 at μ=0", family_of(FamilyKind::Bernoulli), 0.0, 0.0, 2e-15,
                   3e-16},
      DevianceCase{"Bernoulli y=1 at μ=1", family_of(FamilyKind::Bernoulli), 1.0, 1.0, 2e-15,
                   3e-16},
      DevianceCase{"Bernoulli proportion", family_of(FamilyKind::QuasiBinomial), 0.3, 0.5,
                   2.0 * (0.3 * std::log(0.6) + 0.7 * std::log(1.4)), 1e-15},
      DevianceCase{"Gamma d(2, 1) = 2(log ½ + 1)", family_of(FamilyKind::Gamma), 2.0, 1.0,
                   0.6137056388801094, 1e-15},
      DevianceCase{"inverse Gaussian d(2, 1)", family_of(FamilyKind::InverseGaussian), 2.0, 1.0,
                   0.5, 1e-15},
      DevianceCase{"NegBin d(0; μ=1, θ=2) = 4 log 1.5", negbin, 0.0, 1.0, 1.6218604324326575,
                   1e-15},
      DevianceCase{"NegBin at μ = y", negbin, 4.0, 4.0, 0.0, 1e-15},
      DevianceCase{"Tweedie y=0 keeps only the mean term", tweedie, 0.0, 1.0, 4.0, 1e-15},
      DevianceCase{"Tweedie at μ = y", tweedie, 2.0, 2.0, 0.0, 1e-14},
      DevianceCase{"t with ν=3, σ²=1, r=3 is 4 log 4", tdist, 4.0, 1.0, 4.0 * std::log(4.0), 1e-15},
      DevianceCase{"t at r = 0", tdist, 1.0, 1.0, 0.0, 0.0},
      DevianceCase{"Gaussian squared residual", family_of(FamilyKind::Gaussian), 3.0, 1.0, 4.0,
                   0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_NEAR(unit_deviance(c.family, c.y, c.mu), c.expected, c.tolerance);
  }
}

TEST(UnitDeviance, BernoulliNanMeanStaysNan) {
  // The probability clamp lets NaN through, so the step-halving test sees it.
  EXPECT_TRUE(std::isnan(unit_deviance(family_of(FamilyKind::Bernoulli), 1.0, nan_value)));
}

TEST(UnitDeviance, NegBinApproachesPoissonForLargeTheta) {
  const PirlsFamily negbin{.kind = FamilyKind::NegBin, .theta = 1e9};
  for (const auto& [y, mu] : std::array{std::pair{3.0, 2.0}, std::pair{0.0, 1.5}}) {
    const double poisson = unit_deviance(family_of(FamilyKind::Poisson), y, mu);
    // The difference is O(μ²/θ); rounding of log((y+θ)/(m+θ)) costs ~θ·1e-16.
    EXPECT_NEAR(unit_deviance(negbin, y, mu), poisson, 1e-6);
  }
}

TEST(Deviance, WeightedSumOverObservations) {
  const PirlsFamily poisson = family_of(FamilyKind::Poisson);
  const Vector y = vector_of({0.0, 2.0, 5.0});
  const Vector mu = vector_of({1.5, 2.0, 4.0});
  const std::vector<double> weights{2.0, 7.0, 0.5};
  const double expected = 2.0 * 3.0 + 0.0 + 0.5 * 2.0 * (5.0 * std::log(1.25) - 1.0);
  EXPECT_NEAR(deviance(poisson, y, mu, weights), expected, 1e-14);
  EXPECT_DOUBLE_EQ(deviance(poisson, y, mu, {}),
                   deviance(poisson, y, mu, std::vector<double>{1.0, 1.0, 1.0}));
}

TEST(StartingEta, StartingMeansFromTheResponse) {
  struct Case {
    const char* label;
    PirlsFamily family;
    std::vector<double> y;
    std::vector<double> expected_mu;
  };
  const std::vector<Case> cases = {
      {"Bernoulli", family_of(FamilyKind::Bernoulli), {0.0, 1.0}, {0.25, 0.75}},
      {"Poisson floors zero counts", family_of(FamilyKind::Poisson), {0.0, 3.0}, {0.1, 3.0}},
      {"NegBin like Poisson", PirlsFamily{.kind = FamilyKind::NegBin}, {0.0}, {0.1}},
      {"Tweedie like Poisson", PirlsFamily{.kind = FamilyKind::Tweedie}, {0.0}, {0.1}},
      {"Gamma floors tiny values", family_of(FamilyKind::Gamma), {0.0005, 2.0}, {0.001, 2.0}},
      {"inverse Gaussian", family_of(FamilyKind::InverseGaussian), {0.0005}, {0.001}},
      {"Poisson NaN takes the floor", family_of(FamilyKind::Poisson), {nan_value}, {0.1}},
      {"t halfway to the mean", PirlsFamily{.kind = FamilyKind::TDist}, {1.0, 3.0}, {1.5, 2.5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Vector y = Eigen::Map<const Vector>(c.y.data(), static_cast<Eigen::Index>(c.y.size()));
    Vector eta;
    Vector mu;
    starting_eta(c.family, y, eta);
    inverse_link(c.family, eta, mu);
    ASSERT_EQ(mu.size(), y.size());
    for (Eigen::Index i = 0; i < y.size(); ++i) {
      // exp(log μ₀) and the logistic of the logit return μ₀ to within a few ulps.
      const double expected = c.expected_mu[static_cast<std::size_t>(i)];
      EXPECT_NEAR(mu[i], expected, 1e-15 * expected);
    }
  }
}

TEST(InverseLink, SaturatesWithoutOverflow) {
  struct Case {
    const char* label;
    FamilyKind kind;
    double eta;
    double expected;
  };
  const std::array cases = {
      Case{"logistic far below underflows to 0", FamilyKind::Bernoulli, -800.0, 0.0},
      Case{"logistic far above is exactly 1", FamilyKind::Bernoulli, 800.0, 1.0},
      Case{"logistic tail keeps precision", FamilyKind::QuasiBinomial, -40.0,
           4.248354255291589e-18},
      Case{"logistic centre", FamilyKind::Bernoulli, 0.0, 0.5},
      Case{"log link is unclamped", FamilyKind::Poisson, 800.0,
           std::numeric_limits<double>::infinity()},
      Case{"identity", FamilyKind::TDist, -3.25, -3.25},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Vector mu;
    inverse_link(family_of(c.kind), vector_of({c.eta}), mu);
    EXPECT_DOUBLE_EQ(mu[0], c.expected);
  }
}

TEST(WorkingWeights, MatchClosedFormsOfEachFamily) {
  // Under the log link W = w·μ²/V and z = η + (y − μ)/μ; under the logit W = w·μ(1 − μ).
  struct Case {
    const char* label;
    PirlsFamily family;
    double (*weight_per_unit_prior)(double mu);
    double (*response_step)(double y, double mu);
  };
  const auto log_step = [](double y, double mu) { return (y - mu) / mu; };
  const std::array cases = {
      Case{"Poisson W = wμ", family_of(FamilyKind::Poisson), [](double mu) { return mu; },
           log_step},
      Case{"Gamma W = w", family_of(FamilyKind::Gamma), [](double) { return 1.0; }, log_step},
      Case{"inverse Gaussian W = w/μ", family_of(FamilyKind::InverseGaussian),
           [](double mu) { return 1.0 / mu; }, log_step},
      Case{"NegBin W = wμ/(1 + μ/θ)", PirlsFamily{.kind = FamilyKind::NegBin, .theta = 3.0},
           [](double mu) { return mu / (1.0 + mu / 3.0); }, log_step},
      Case{"Tweedie W = wμ^{2−p}", PirlsFamily{.kind = FamilyKind::Tweedie, .power = 1.3},
           [](double mu) { return std::pow(mu, 0.7); }, log_step},
      Case{"Bernoulli W = wμ(1 − μ)", family_of(FamilyKind::Bernoulli),
           [](double mu) { return mu * (1.0 - mu); },
           [](double y, double mu) { return (y - mu) / (mu * (1.0 - mu)); }},
      Case{"t W = w/σ²", PirlsFamily{.kind = FamilyKind::TDist, .nu = 4.0, .sigma2 = 4.0},
           [](double) { return 0.25; }, [](double y, double mu) { return y - mu; }},
  };
  const Vector eta = vector_of({-1.2, 0.3, 1.1});
  const Vector y = vector_of({0.0, 1.0, 1.0});
  const std::vector<double> prior{2.0, 0.5, 1.0};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Vector mu;
    Vector weights;
    Vector response;
    inverse_link(c.family, eta, mu);
    working_weights_and_response(c.family, y, eta, mu, prior, weights, response);
    for (Eigen::Index i = 0; i < y.size(); ++i) {
      const double w = prior[static_cast<std::size_t>(i)];
      EXPECT_NEAR(weights[i], w * c.weight_per_unit_prior(mu[i]), 1e-14);
      EXPECT_NEAR(response[i], eta[i] + c.response_step(y[i], mu[i]), 1e-13);
    }
  }
}

TEST(WorkingWeights, EmptyPriorWeightsMeanOnes) {
  const PirlsFamily gamma = family_of(FamilyKind::Gamma);
  const Vector eta = vector_of({0.5, -0.5});
  const Vector y = vector_of({1.0, 2.0});
  Vector mu;
  inverse_link(gamma, eta, mu);
  Vector weights;
  Vector response;
  working_weights_and_response(gamma, y, eta, mu, {}, weights, response);
  EXPECT_DOUBLE_EQ(weights[0], 1.0);
  EXPECT_DOUBLE_EQ(weights[1], 1.0);
}

TEST(DevianceTermsFinite, FlagsOverflowAndNan) {
  struct Case {
    const char* label;
    FamilyKind kind;
    double y;
    double eta;
    bool expected;
  };
  const std::array cases = {
      Case{"ordinary Poisson point", FamilyKind::Poisson, 2.0, 0.5, true},
      Case{"μ = exp(800) overflows", FamilyKind::Poisson, 2.0, 800.0, false},
      Case{"NaN η", FamilyKind::Gamma, 2.0, nan_value, false},
      Case{"saturated logistic stays finite", FamilyKind::Bernoulli, 0.0, 800.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const PirlsFamily family = family_of(c.kind);
    const Vector eta = vector_of({0.0, c.eta});
    Vector mu;
    inverse_link(family, eta, mu);
    EXPECT_EQ(deviance_terms_finite(family, vector_of({1.0, c.y}), eta, mu), c.expected);
  }
}

TEST(ValidateResponse, ReportsTheFirstOffendingRow) {
  struct Case {
    const char* label;
    FamilyKind kind;
    std::vector<double> y;
    std::string expected_message;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"Poisson negative count",
       FamilyKind::Poisson,
       {1.0, 2.0, 0.0, -1.0, 5.0, -2.0},
       "Poisson requires y ≥ 0; got y=-1 at row 3"},
      {"QuasiPoisson lets NaN through", FamilyKind::QuasiPoisson, {nan_value, 0.0}, ""},
      {"Gamma zero", FamilyKind::Gamma, {0.0, 1.0}, "Gamma requires y > 0; got y=0 at row 0"},
      {"Gamma subnormal is positive", FamilyKind::Gamma, {1e-310, nan_value}, ""},
      {"inverse Gaussian negative",
       FamilyKind::InverseGaussian,
       {1.0, -2.5},
       "InverseGaussian requires y > 0; got y=-2.5 at row 1"},
      {"Bernoulli NaN",
       FamilyKind::Bernoulli,
       {0.0, nan_value},
       "Bernoulli requires y in [0, 1]; got y=NaN at row 1"},
      {"QuasiBinomial above one",
       FamilyKind::QuasiBinomial,
       {0.5, 1.0, 1.5},
       "QuasiBinomial requires y in [0, 1]; got y=1.5 at row 2"},
      {"Bernoulli proportions", FamilyKind::Bernoulli, {0.0, 0.25, 1.0}, ""},
      {"NegBin negative",
       FamilyKind::NegBin,
       {0.0, 1.0, 2.0, 3.0, -1.0},
       "NegBin requires y ≥ 0; got y=-1 at row 4"},
      {"Tweedie negative",
       FamilyKind::Tweedie,
       {-0.5},
       "Tweedie requires y ≥ 0; got y=-0.5 at row 0"},
      {"t accepts any real", FamilyKind::TDist, {-1.0, nan_value, -1e300}, ""},
      {"Gaussian accepts any real", FamilyKind::Gaussian, {-1.0, nan_value}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Vector y = Eigen::Map<const Vector>(c.y.data(), static_cast<Eigen::Index>(c.y.size()));
    const Expected<void> result = validate_response(c.kind, y);
    if (c.expected_message.empty()) {
      EXPECT_TRUE(result.has_value());
    } else {
      ASSERT_FALSE(result.has_value());
      ASSERT_TRUE(std::holds_alternative<InvalidParameter>(result.error().value));
      EXPECT_EQ(error_message(result.error()), c.expected_message);
    }
  }
}

}  // namespace
}  // namespace krelm
