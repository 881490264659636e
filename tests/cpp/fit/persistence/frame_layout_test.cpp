// What serialize_fit writes: the 17-byte header, a compact body with the record's keys in
// declaration order, predictors tagged first by "kind", arrays as v/dim/data objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "fit/persistence/frame.hpp"
#include "sample_fits.hpp"

namespace krelm {
namespace {

std::string frame_of(const FittedGam& fit) {
  auto frame = serialize_fit(fit);
  EXPECT_TRUE(frame.has_value());
  return frame.value_or(std::string());
}

std::uint64_t little_endian_at(const std::string& bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
  }
  return value;
}

std::vector<std::string> keys_in_order(const std::string& body) {
  static const std::regex key_pattern(R"re("([a-z_]+)":)re");
  std::vector<std::string> keys;
  for (auto it = std::sregex_iterator(body.begin(), body.end(), key_pattern);
       it != std::sregex_iterator(); ++it) {
    keys.push_back((*it)[1].str());
  }
  return keys;
}

// Keys of the record around a predictor whose own keys are `predictor_keys`.
std::vector<std::string> record_keys(const std::vector<std::string>& predictor_keys) {
  const std::vector<std::string> array = {"v", "dim", "data"};
  std::vector<std::string> keys;
  const auto add_array = [&](const std::string& name) {
    keys.push_back(name);
    keys.insert(keys.end(), array.begin(), array.end());
  };
  add_array("beta");
  add_array("rho");
  add_array("lambda");
  keys.insert(keys.end(), {"scale", "edf_total"});
  add_array("edf_per_term");
  keys.insert(keys.end(), {"n", "n_iters", "converged", "reml_value", "predictor"});
  keys.insert(keys.end(), predictor_keys.begin(), predictor_keys.end());
  add_array("vcov");
  keys.push_back("link_kind");
  add_array("shape_params");
  return keys;
}

std::vector<std::string> with_array_keys(std::initializer_list<const char*> names,
                                         std::initializer_list<const char*> arrays) {
  std::vector<std::string> keys(names.begin(), names.end());
  for (const char* name : arrays) {
    keys.insert(keys.end(), {name, "v", "dim", "data"});
  }
  return keys;
}

TEST(PersistenceFrameLayout, HeaderCarriesMagicVersionAndBodyLength) {
  for (const auto& [label, fit] : testing::sample_fits_of_every_kind()) {
    SCOPED_TRACE(label);
    const std::string frame = frame_of(fit);
    ASSERT_GE(frame.size(), frame_header_bytes);
    EXPECT_EQ(frame.substr(0, 5), "KRELM");
    EXPECT_EQ(little_endian_at(frame, 5, 4), 1U);
    EXPECT_EQ(little_endian_at(frame, 9, 8), frame.size() - 17);
    const std::string body = frame.substr(17);
    EXPECT_EQ(body.find_first_of(" \t\r\n"), std::string::npos) << "body must be compact";
    EXPECT_EQ(body.front(), '{');
    EXPECT_EQ(body.back(), '}');
  }
}

TEST(PersistenceFrameLayout, SmallReFitIsWrittenExactly) {
  FittedGam fit;
  fit.beta = Vector{{0.5, 1.25, -2.0}};
  fit.rho = Vector{{0.0}};
  fit.lambda = Vector{{1.0}};
  fit.scale = 1.0;
  fit.edf_total = 2.5;
  fit.edf_per_term = Vector{{1.5}};
  fit.n = 10;
  fit.n_iters = 3;
  fit.converged = true;
  fit.reml_value = -4.0;
  fit.predictor = Predictor{RePredictor{Vector{{1.0, 2.0}}}};
  fit.vcov = RowMatrix::Identity(3, 3);
  fit.vcov(0, 2) = 0.125;  // off-diagonal entry pins row-major order
  fit.link_kind = LinkKind::Identity;
  const std::string expected_body =
      R"({"beta":{"v":1,"dim":[3],"data":[0.5,1.25,-2.0]},)"
      R"("rho":{"v":1,"dim":[1],"data":[0.0]},"lambda":{"v":1,"dim":[1],"data":[1.0]},)"
      R"("scale":1.0,"edf_total":2.5,"edf_per_term":{"v":1,"dim":[1],"data":[1.5]},)"
      R"("n":10,"n_iters":3,"converged":true,"reml_value":-4.0,)"
      R"("predictor":{"kind":"re","levels":[1.0,2.0]},)"
      R"("vcov":{"v":1,"dim":[3,3],"data":[1.0,0.0,0.125,0.0,1.0,0.0,0.0,0.0,1.0]},)"
      R"("link_kind":"Identity","shape_params":{"v":1,"dim":[0],"data":[]}})";
  EXPECT_EQ(frame_of(fit).substr(17), expected_body);
}

TEST(PersistenceFrameLayout, PredictorObjectsWriteKindFirstThenTheirFields) {
  const auto cr = with_array_keys({"kind"}, {"knots", "centring"});
  const auto re = std::vector<std::string>{"kind", "levels"};
  const auto stable = with_array_keys({"kind"}, {"knots", "centring", "reparam_v"});
  const auto tensor = with_array_keys({"kind", "col_a", "col_b", "bs_a", "bs_b"},
                                      {"knots_a", "knots_b", "xp_a", "xp_b", "centring"});
  std::vector<std::string> additive = {"kind", "term_predictors"};
  for (const auto* term : {&cr, &re, &tensor}) {
    additive.insert(additive.end(), term->begin(), term->end());
  }
  additive.insert(additive.end(), {"cols_used", "term_col_ranges"});

  const std::vector<std::pair<FittedGam, std::vector<std::string>>> cases = {
      {testing::sample_cr_fit(), cr},
      {testing::sample_re_fit(), re},
      {testing::sample_cr_stable_fit(), stable},
      {testing::sample_additive_fit(), additive},
  };
  for (const auto& [fit, predictor_keys] : cases) {
    const std::string body = frame_of(fit).substr(17);
    SCOPED_TRACE(body.substr(0, 200));
    EXPECT_EQ(keys_in_order(body), record_keys(predictor_keys));
  }
}

TEST(PersistenceFrameLayout, AdditivePayloadWritesNestedListsAndTags) {
  const std::string body = frame_of(testing::sample_additive_fit()).substr(17);
  EXPECT_NE(body.find(R"("cols_used":[[0],[1],[0,2]])"), std::string::npos);
  EXPECT_NE(body.find(R"("term_col_ranges":[[1,4],[4,6],[6,14]])"), std::string::npos);
  EXPECT_NE(body.find(R"({"kind":"re","levels":[-1.0,0.5]})"), std::string::npos);
  EXPECT_NE(body.find(R"({"kind":"tensor","col_a":0,"col_b":2,"bs_a":"cr","bs_b":"cr",)"
                      R"("knots_a":{"v":1,"dim":[3],"data":[-1.5,0.375,2.25]},)"),
            std::string::npos);
  EXPECT_NE(body.find(R"("centring":{"v":1,"dim":[9,8],"data":[)"), std::string::npos);
  EXPECT_NE(body.find(R"("vcov":{"v":1,"dim":[14,14],"data":[)"), std::string::npos);
  EXPECT_NE(body.find(R"("link_kind":"Log")"), std::string::npos);
}

TEST(PersistenceFrameLayout, NonFiniteNumbersAreWrittenAsNull) {
  FittedGam fit = testing::sample_cr_fit();
  fit.scale = std::numeric_limits<double>::quiet_NaN();
  fit.reml_value = -std::numeric_limits<double>::infinity();
  fit.beta[1] = std::numeric_limits<double>::infinity();
  const std::string body = frame_of(fit).substr(17);
  EXPECT_NE(body.find(R"("scale":null,)"), std::string::npos);
  EXPECT_NE(body.find(R"("reml_value":null,)"), std::string::npos);
  const std::size_t beta_data = body.find(R"("beta":{"v":1,"dim":[5],"data":[)");
  ASSERT_NE(beta_data, std::string::npos);
  const std::size_t beta_end = body.find(']', beta_data + 30);
  EXPECT_NE(body.substr(beta_data, beta_end - beta_data).find(",null,"), std::string::npos);
}

}  // namespace
}  // namespace krelm
