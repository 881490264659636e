// Reading back what was written: bit-for-bit values, and the freedoms of the document
// (key order, unknown keys, the array form, whitespace, bytes after the frame).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <variant>

#include "body_text.hpp"
#include "design/predictor.hpp"
#include "fit/persistence/frame.hpp"
#include "sample_fits.hpp"

namespace krelm {
namespace {

using testing::frame_around;

std::string frame_of(const FittedGam& fit) {
  auto frame = serialize_fit(fit);
  EXPECT_TRUE(frame.has_value());
  return frame.value_or(std::string());
}

std::string body_of(const FittedGam& fit) { return frame_of(fit).substr(17); }

// Loads `bytes` and returns the frame written from the loaded record ("" on failure).
std::string reserialized(std::string_view bytes) {
  auto fit = deserialize_fit(bytes);
  if (!fit) {
    ADD_FAILURE() << fit.error().display();
    return {};
  }
  return frame_of(*fit);
}

bool same_bits(const double* a, const double* b, Eigen::Index count) {
  return std::equal(a, a + count, b, [](double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  });
}

TEST(PersistenceRoundTrip, EveryPredictorKindReadsBackToTheSameBytes) {
  for (const auto& [label, fit] : testing::sample_fits_of_every_kind()) {
    SCOPED_TRACE(label);
    const std::string frame = frame_of(fit);
    const auto loaded = deserialize_fit(frame);
    ASSERT_TRUE(loaded.has_value()) << loaded.error().display();
    EXPECT_EQ(frame_of(*loaded), frame);
    EXPECT_EQ(loaded->predictor.value.index(), fit.predictor.value.index());
    EXPECT_TRUE(same_bits(loaded->vcov.data(), fit.vcov.data(), fit.vcov.size()));
    EXPECT_EQ(loaded->n, fit.n);
    EXPECT_EQ(loaded->converged, fit.converged);
    EXPECT_EQ(loaded->link_kind, fit.link_kind);
    // Predictions after a reload are identical to the last bit.
    const RowMatrix x{{0.1, 0.2, 0.3, 0.4}, {0.9, 0.5, 0.7, 2.0}, {-1.0, 1.0, 0.0, 3.0}};
    const auto before = rebuild(fit.predictor, x);
    const auto after = rebuild(loaded->predictor, x);
    ASSERT_TRUE(before.has_value() && after.has_value());
    ASSERT_EQ(after->cols(), fit.beta.size());
    EXPECT_TRUE(same_bits(before->data(), after->data(), before->size()));
  }
}

TEST(PersistenceRoundTrip, RandomDoublesOfAllMagnitudesSurviveBitForBit) {
  std::mt19937_64 rng(77);
  std::uniform_int_distribution<std::uint64_t> bits;
  const auto random_finite = [&]() {
    while (true) {
      const double x = std::bit_cast<double>(bits(rng));
      if (std::isfinite(x)) {
        return x;
      }
    }
  };
  for (int trial = 0; trial < 20; ++trial) {
    FittedGam fit = testing::sample_additive_fit(static_cast<std::uint64_t>(trial));
    for (Eigen::Index i = 0; i < fit.vcov.size(); ++i) {
      fit.vcov.data()[i] = random_finite();
    }
    for (double& b : fit.beta) {
      b = random_finite();
    }
    fit.beta[0] = std::numeric_limits<double>::denorm_min();
    fit.beta[1] = -0.0;
    fit.beta[2] = -std::numeric_limits<double>::max();
    fit.scale = random_finite();
    const auto loaded = deserialize_fit(frame_of(fit));
    ASSERT_TRUE(loaded.has_value()) << loaded.error().display();
    EXPECT_TRUE(same_bits(loaded->vcov.data(), fit.vcov.data(), fit.vcov.size()));
    EXPECT_TRUE(same_bits(loaded->beta.data(), fit.beta.data(), fit.beta.size()));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(loaded->scale), std::bit_cast<std::uint64_t>(fit.scale));
  }
}

TEST(PersistenceRoundTrip, NonFiniteValuesReadBackAsNaN) {
  FittedGam fit = testing::sample_additive_fit();
  fit.scale = std::numeric_limits<double>::quiet_NaN();
  fit.reml_value = std::numeric_limits<double>::infinity();
  fit.vcov(3, 4) = -std::numeric_limits<double>::infinity();
  auto& re = std::get<RePredictor>(
      std::get<AdditivePredictor>(fit.predictor.value).term_predictors[1].value);
  re.levels[0] = std::numeric_limits<double>::quiet_NaN();
  const std::string frame = frame_of(fit);
  const auto loaded = deserialize_fit(frame);
  ASSERT_TRUE(loaded.has_value()) << loaded.error().display();
  EXPECT_TRUE(std::isnan(loaded->scale));
  EXPECT_TRUE(std::isnan(loaded->reml_value));
  EXPECT_TRUE(std::isnan(loaded->vcov(3, 4)));
  const auto& loaded_re = std::get<RePredictor>(
      std::get<AdditivePredictor>(loaded->predictor.value).term_predictors[1].value);
  EXPECT_TRUE(std::isnan(loaded_re.levels[0]));
  EXPECT_EQ(frame_of(*loaded), frame);
}

// Rewritings of a valid body that must load to the same record.
TEST(PersistenceRoundTrip, DocumentFreedomsLoadTheSameRecord) {
  using testing::join;
  using testing::member_value;
  using testing::object_members;
  using testing::replace_once;
  const std::string body = body_of(testing::sample_additive_fit());
  const std::string frame = frame_around(body);
  const auto members = object_members(body);
  ASSERT_EQ(members.size(), 14U);

  std::vector<std::string> reversed(members.rbegin(), members.rend());
  std::vector<std::string> values;
  for (const auto& member : members) {
    values.push_back(member_value(member));
  }
  std::vector<std::string> with_unknown = members;
  with_unknown.insert(with_unknown.begin() + 3,
                      R"("comment":{"nested":[1,{"deep":[null,true,"\u00e9\ud83d\ude00"]}]})");
  with_unknown.emplace_back(R"("future_field":-1.5e-300)");

  // The predictor with "kind" moved last, and each term's "kind" moved last as well.
  const std::string predictor = member_value(members[10]);
  auto predictor_members = object_members(predictor);
  std::rotate(predictor_members.begin(), predictor_members.begin() + 1, predictor_members.end());
  std::string kind_last = join(predictor_members, '{', '}');
  for (const char* tag : {"cr", "re", "tensor"}) {
    const std::string kind = std::string(R"({"kind":")") + tag + R"(",)";
    const std::size_t at = kind_last.find(kind);
    ASSERT_NE(at, std::string::npos);
    const std::size_t end = testing::value_end(kind_last, at);
    auto term_members = object_members(kind_last.substr(at, end - at));
    std::rotate(term_members.begin(), term_members.begin() + 1, term_members.end());
    term_members.insert(term_members.begin(), R"("unknown_payload_key":[[]])");
    kind_last.replace(at, end - at, join(term_members, '{', '}'));
  }
  std::vector<std::string> moved_kind = members;
  moved_kind[10] = R"("predictor":)" + kind_last;

  std::string spaced;
  for (const char c : body) {
    spaced += c;
    if (c == ',' || c == ':' || c == '{' || c == '[') {
      spaced += " \n\t\r";
    }
  }

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"keys reversed", frame_around(join(reversed, '{', '}'))},
      {"record as an array of its fourteen values", frame_around(join(values, '[', ']'))},
      {"unknown record keys with nested values", frame_around(join(with_unknown, '{', '}'))},
      {"kind last in every predictor object", frame_around(join(moved_kind, '{', '}'))},
      {"escaped tag", frame_around(replace_once(body, R"("kind":"re")", R"("kind":"\u0072e")"))},
      {"whitespace everywhere", frame_around(" \n" + spaced + "\r\n\t ")},
      {"bytes after the frame are ignored", frame + "trailing garbage {"},
  };
  for (const auto& [label, bytes] : cases) {
    SCOPED_TRACE(label);
    EXPECT_EQ(reserialized(bytes), frame);
  }
}

}  // namespace
}  // namespace krelm
