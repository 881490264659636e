// Frames that are valid JSON documents but describe records that do not hold together:
// each is refused with the inconsistency named, before any prediction could index past
// a matrix.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "fit/persistence/frame.hpp"
#include "sample_fits.hpp"

namespace krelm {
namespace {

AdditivePredictor& additive_of(FittedGam& fit) {
  return std::get<AdditivePredictor>(fit.predictor.value);
}

TensorPredictor& tensor_of(FittedGam& fit) {
  return std::get<TensorPredictor>(additive_of(fit).term_predictors[2].value);
}

struct ConsistencyCase {
  const char* label;
  std::function<FittedGam()> damaged_fit;
  const char* what;
};

TEST(PersistenceConsistency, InconsistentRecordsAreRefusedWithWhatIsWrong) {
  using testing::sample_additive_fit;
  using testing::sample_cr_fit;
  const std::vector<ConsistencyCase> cases = {
      {"beta longer than vcov",
       [] {
         FittedGam fit = sample_cr_fit();
         fit.beta.conservativeResize(6);
         fit.beta[5] = 0.0;
         return fit;
       },
       "beta has 6 entries but vcov is 5 × 5"},
      {"vcov not square",
       [] {
         FittedGam fit = sample_cr_fit();
         fit.vcov.conservativeResize(5, 4);
         return fit;
       },
       "beta has 5 entries but vcov is 5 × 4"},
      {"lambda shorter than rho",
       [] {
         FittedGam fit = sample_cr_fit();
         fit.lambda.resize(0);
         return fit;
       },
       "rho has 1 entry but lambda has 0 entries"},
      {"edf_per_term longer than rho",
       [] {
         FittedGam fit = sample_cr_fit();
         fit.edf_per_term = Vector::Zero(2);
         return fit;
       },
       "rho has 1 entry but edf_per_term has 2 entries"},
      {"too few knots",
       [] {
         FittedGam fit = sample_cr_fit();
         std::get<CrPredictor>(fit.predictor.value).knots.conservativeResize(2);
         return fit;
       },
       "cr knots has 2 entries; at least 3 are needed"},
      {"centring not k × (k−1)",
       [] {
         FittedGam fit = sample_cr_fit();
         std::get<CrPredictor>(fit.predictor.value).centring.conservativeResize(5, 3);
         return fit;
       },
       "cr centring is 5 × 3 but 5 knots need 5 × 4"},
      {"reparam_v not (k−1) × (k−1)",
       [] {
         FittedGam fit = testing::sample_cr_stable_fit();
         std::get<CrStablePredictor>(fit.predictor.value).reparam_v.conservativeResize(3, 2);
         return fit;
       },
       "cr_stable reparam_v is 3 × 2 but 4 knots need 3 × 3"},
      {"one level more than beta has columns for",
       [] {
         FittedGam fit = testing::sample_re_fit();
         std::get<RePredictor>(fit.predictor.value).levels = Vector::LinSpaced(4, 1.0, 4.0);
         return fit;
       },
       "the predictor rebuilds 5 columns but beta has 4 entries"},
      {"additive lists of different lengths",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).cols_used.pop_back();
         return fit;
       },
       "additive has 3 term predictors, 2 cols_used entries and 3 term_col_ranges"},
      {"nested additive term",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).term_predictors[1] = Predictor{AdditivePredictor{}};
         return fit;
       },
       "additive term 1 is itself additive"},
      {"single-column term with two columns",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).cols_used[0] = {0, 1};
         return fit;
       },
       "additive term 0 reads one column but its cols_used is [0, 1]"},
      {"single-column term with no column",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).cols_used[1] = {};
         return fit;
       },
       "additive term 1 reads one column but its cols_used is []"},
      {"tensor columns differ from cols_used",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).cols_used[2] = {2, 0};
         return fit;
       },
       "additive term 2 is a tensor on columns (0, 2) but its cols_used is [2, 0]"},
      {"tensor margin with too few knots",
       [] {
         FittedGam fit = sample_additive_fit();
         tensor_of(fit).knots_b.conservativeResize(2);
         return fit;
       },
       "tensor knots_b has 2 entries; at least 3 are needed"},
      {"tensor xp not k × k",
       [] {
         FittedGam fit = sample_additive_fit();
         tensor_of(fit).xp_a.conservativeResize(3, 2);
         return fit;
       },
       "tensor xp_a is 3 × 2 but 3 knots_a need 3 × 3"},
      {"tensor centring not k_a·k_b × (k_a·k_b − 1)",
       [] {
         FittedGam fit = sample_additive_fit();
         tensor_of(fit).centring.conservativeResize(9, 9);
         return fit;
       },
       "tensor centring is 9 × 9 but 3 × 3 margin knots need 9 × 8"},
      {"ranges not starting at column 1",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).term_col_ranges[0] = {0, 3};
         return fit;
       },
       "additive term 0 has column range [0, 3) but its 3 columns start at 1"},
      {"gap between ranges",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).term_col_ranges[1] = {5, 7};
         return fit;
       },
       "additive term 1 has column range [5, 7) but its 2 columns start at 4"},
      {"reversed range",
       [] {
         FittedGam fit = sample_additive_fit();
         additive_of(fit).term_col_ranges[2] = {6, 0};
         return fit;
       },
       "additive term 2 has column range [6, 0) but its 8 columns start at 6"},
      {"additive width differs from beta",
       [] {
         FittedGam fit = sample_additive_fit();
         fit.beta = Vector::Zero(15);
         fit.vcov = RowMatrix::Zero(15, 15);
         return fit;
       },
       "the predictor rebuilds 14 columns but beta has 15 entries"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto frame = serialize_fit(c.damaged_fit());
    ASSERT_TRUE(frame.has_value());
    const auto loaded = deserialize_fit(*frame);
    ASSERT_FALSE(loaded.has_value());
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(loaded.error().value));
    EXPECT_EQ(error_message(loaded.error()),
              std::string("FittedGam::deserialize: inconsistent record: ") + c.what);
  }
}

TEST(PersistenceConsistency, StandaloneTensorAndEmptyAdditiveAreConsistent) {
  std::mt19937_64 rng(9);
  const FittedGam tensor_fit =
      testing::sample_fit(rng, Predictor{testing::sample_tensor(rng, 1, 0, 3, 4)}, 12, 2);
  const FittedGam intercept_only = testing::sample_fit(rng, Predictor{AdditivePredictor{}}, 1, 0);
  for (const FittedGam* fit : {&tensor_fit, &intercept_only}) {
    const auto frame = serialize_fit(*fit);
    ASSERT_TRUE(frame.has_value());
    const auto loaded = deserialize_fit(*frame);
    EXPECT_TRUE(loaded.has_value()) << loaded.error().display();
  }
}

}  // namespace
}  // namespace krelm
