// Seeded random damage to valid frames: flipped bytes, cuts, splices, altered numbers and
// dims, dropped and repeated keys, swapped values, deep nesting. Every frame must either load
// a record that holds together (and rebuilds a model matrix as wide as beta) or be refused
// with an InvalidParameter; nothing may crash, which the sanitizer build checks as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "body_text.hpp"
#include "design/predictor.hpp"
#include "fit/persistence/frame.hpp"
#include "sample_fits.hpp"

namespace krelm {
namespace {

using testing::frame_around;
using testing::value_end;

constexpr std::array<std::string_view, 22> replacement_numbers = {"0",
                                                                  "1",
                                                                  "2",
                                                                  "3",
                                                                  "-1",
                                                                  "1e18",
                                                                  "1000000000000000000",
                                                                  "1e400",
                                                                  "-0.0",
                                                                  "1.5",
                                                                  "null",
                                                                  "true",
                                                                  "\"cr\"",
                                                                  "[]",
                                                                  "{}",
                                                                  "18446744073709551615",
                                                                  "18446744073709551616",
                                                                  "4.9e-324",
                                                                  "1e-400",
                                                                  "9223372036854775808",
                                                                  "[0]",
                                                                  "5e-324"};

constexpr std::array<std::string_view, 12> replacement_dims = {"",
                                                               "0",
                                                               "1",
                                                               "3,3",
                                                               "2,2,2",
                                                               "1000000000000000000",
                                                               "0,18446744073709551615",
                                                               "4294967296,4294967296",
                                                               "14",
                                                               "14,14",
                                                               "5",
                                                               "-1"};

constexpr std::array<std::string_view, 11> replacement_strings = {
    "cr", "re", "cr_stable", "additive", "tensor", "spline", "Log", "Logit", "Identity", "", "\\u"};

class FrameDamager {
 public:
  FrameDamager(std::uint64_t seed, std::vector<std::string> donors)
      : rng_(seed), donors_(std::move(donors)) {}

  std::string damaged_frame() {
    std::string body = donors_[index(donors_.size())];
    const std::size_t damages = 1 + index(2);
    for (std::size_t i = 0; i < damages; ++i) {
      body = damaged(std::move(body));
    }
    std::string frame = frame_around(body);
    if (index(8) == 0) {
      damage_header(frame);
    }
    return frame;
  }

 private:
  std::size_t index(std::size_t bound) {
    return bound == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng_);
  }

  template <std::size_t N>
  std::string_view pick(const std::array<std::string_view, N>& choices) {
    return choices[index(N)];
  }

  // Positions where a value of `body` starts (after ':', '[' or ',').
  std::vector<std::size_t> value_starts(const std::string& body) const {
    std::vector<std::size_t> starts;
    for (std::size_t i = 1; i < body.size(); ++i) {
      const char before = body[i - 1];
      if ((before == ':' || before == '[' || (before == ',' && body[i] != '"')) && body[i] != ']') {
        starts.push_back(i);
      }
    }
    return starts;
  }

  // Positions of '"' that open a key ("name":).
  std::vector<std::size_t> key_starts(const std::string& body) const {
    std::vector<std::size_t> starts;
    for (std::size_t i = 1; i < body.size(); ++i) {
      if (body[i] == '"' && (body[i - 1] == '{' || body[i - 1] == ',')) {
        starts.push_back(i);
      }
    }
    return starts;
  }

  std::string damaged(std::string body) {
    if (body.empty()) {
      return body;
    }
    switch (index(12)) {
      case 10:
      case 11:
        return resized_array(std::move(body));
      case 0:  // flip one byte
        body[index(body.size())] = static_cast<char>(index(256));
        return body;
      case 1:  // cut
        body.resize(index(body.size()));
        return body;
      case 2: {  // splice a slice of a donor in, replacing a few bytes
        const std::string& donor = donors_[index(donors_.size())];
        const std::size_t from = index(donor.size());
        const std::string slice = donor.substr(from, 1 + index(64));
        body.replace(index(body.size()), index(8), slice);
        return body;
      }
      case 3:
        return with_replaced_value(std::move(body), pick(replacement_numbers));
      case 4: {  // alter a dim
        std::vector<std::size_t> dims;
        for (std::size_t at = body.find("\"dim\":["); at != std::string::npos;
             at = body.find("\"dim\":[", at + 1)) {
          dims.push_back(at + 7);
        }
        if (dims.empty()) {
          return body;
        }
        const std::size_t start = dims[index(dims.size())];
        const std::size_t end = body.find(']', start);
        body.replace(start, (end == std::string::npos ? body.size() : end) - start,
                     pick(replacement_dims));
        return body;
      }
      case 5:
      case 6: {  // drop or repeat a "key":value member
        const auto keys = key_starts(body);
        if (keys.empty()) {
          return body;
        }
        const std::size_t start = keys[index(keys.size())];
        const std::size_t colon = body.find(':', start);
        if (colon == std::string::npos) {
          return body;
        }
        const std::size_t end = value_end(body, colon + 1);
        const std::string member = body.substr(start, end - start);
        if (index(2) == 0) {
          // Drop it with one separator, so that the object stays well formed.
          if (body[start - 1] == ',') {
            body.erase(start - 1, end - start + 1);
          } else {
            body.erase(start, std::min(end + 1, body.size()) - start);
          }
        } else {
          body.insert(end, "," + member);
        }
        return body;
      }
      case 7: {  // swap in a value taken from a donor
        const std::string& donor = donors_[index(donors_.size())];
        const auto donor_starts = value_starts(donor);
        const std::size_t from = donor_starts[index(donor_starts.size())];
        return with_replaced_value(std::move(body),
                                   donor.substr(from, value_end(donor, from) - from));
      }
      case 8: {  // a string value changed
        const std::size_t at = body.find(":\"", index(body.size()));
        if (at == std::string::npos) {
          return body;
        }
        const std::size_t end = body.find('"', at + 2);
        body.replace(at + 2, (end == std::string::npos ? body.size() : end) - at - 2,
                     pick(replacement_strings));
        return body;
      }
      default: {  // deep nesting under an extra key
        const std::size_t depth = 100 + index(60);
        const auto keys = key_starts(body);
        if (keys.empty()) {
          return body;
        }
        body.insert(keys[index(keys.size())],
                    "\"deep\":" + std::string(depth, '[') + std::string(depth, ']') + ",");
        return body;
      }
    }
  }

  // One array object given one row (or entry) more or less, with its dim to match: still a
  // valid document, but usually an inconsistent record.
  std::string resized_array(std::string body) {
    std::vector<std::size_t> arrays;
    for (std::size_t at = body.find("\"dim\":["); at != std::string::npos;
         at = body.find("\"dim\":[", at + 1)) {
      arrays.push_back(at + 7);
    }
    if (arrays.empty()) {
      return body;
    }
    const std::size_t dims_start = arrays[index(arrays.size())];
    const std::size_t dims_end = body.find(']', dims_start);
    const std::size_t data_start = body.find("\"data\":[", dims_start);
    if (dims_end == std::string::npos || data_start == std::string::npos) {
      return body;
    }
    const std::string dims = body.substr(dims_start, dims_end - dims_start);
    const std::size_t comma = dims.find(',');
    const std::size_t rows = std::strtoull(dims.c_str(), nullptr, 10);
    const std::size_t cols =
        comma == std::string::npos ? 1 : std::strtoull(dims.c_str() + comma + 1, nullptr, 10);
    const std::size_t values_start = data_start + 8;
    const std::size_t values_end = body.find(']', values_start);
    if (values_end == std::string::npos) {
      return body;
    }
    std::string values = body.substr(values_start, values_end - values_start);
    const bool grow = rows == 0 || index(2) == 0;
    std::string new_values;
    if (grow) {
      new_values = values;
      for (std::size_t c = 0; c < cols; ++c) {
        new_values += new_values.empty() ? "0.5" : ",0.5";
      }
    } else {
      std::size_t keep = values.size();
      for (std::size_t c = 0; c < cols && keep != std::string::npos; ++c) {
        keep = values.rfind(',', keep - 1);
      }
      new_values = keep == std::string::npos ? "" : values.substr(0, keep);
    }
    const std::size_t new_rows = grow ? rows + 1 : rows - 1;
    body.replace(values_start, values_end - values_start, new_values);
    body.replace(
        dims_start, dims_end - dims_start,
        std::to_string(new_rows) + (comma == std::string::npos ? "" : "," + std::to_string(cols)));
    return body;
  }

  std::string with_replaced_value(std::string body, std::string_view replacement) {
    const auto starts = value_starts(body);
    if (starts.empty()) {
      return body;
    }
    const std::size_t start = starts[index(starts.size())];
    body.replace(start, value_end(body, start) - start, replacement);
    return body;
  }

  void damage_header(std::string& frame) {
    switch (index(4)) {
      case 0:
        frame[index(17)] = static_cast<char>(index(256));
        return;
      case 1:
        frame[9 + index(8)] = static_cast<char>(index(256));  // the length
        return;
      case 2:
        frame += "appended bytes";
        return;
      default:
        frame.resize(index(frame.size()));
        return;
    }
  }

  std::mt19937_64 rng_;
  std::vector<std::string> donors_;
};

std::vector<std::string> donor_bodies() {
  std::mt19937_64 rng(5);
  std::vector<FittedGam> fits = {testing::sample_cr_fit(), testing::sample_re_fit(),
                                 testing::sample_cr_stable_fit(), testing::sample_additive_fit()};
  Predictor tensor{testing::sample_tensor(rng, 1, 0, 3, 3)};
  fits.push_back(testing::sample_fit(rng, std::move(tensor), 9, 2));
  std::vector<std::string> bodies;
  for (const FittedGam& fit : fits) {
    bodies.push_back(serialize_fit(fit).value().substr(17));
  }
  // The record as an array of its values, too.
  std::vector<std::string> values;
  for (const auto& member : testing::object_members(bodies.front())) {
    values.push_back(testing::member_value(member));
  }
  bodies.push_back(testing::join(values, '[', ']'));
  return bodies;
}

// Covariates inside every sample's knot range, wide enough for the columns the samples use.
RowMatrix covariates() {
  RowMatrix x(3, 4);
  x << 0.1, 0.2, 0.3, 0.4,  //
      0.9, 0.5, 0.7, 2.0,   //
      -1.0, 1.0, 0.0, 3.0;
  return x;
}

struct Tally {
  int loaded = 0;
  int rebuilt = 0;
  int json_failures = 0;
  int inconsistent = 0;
  int header_failures = 0;
};

void check_loaded(const FittedGam& fit, const std::string& frame, Tally& tally) {
  const Eigen::Index p = fit.beta.size();
  ASSERT_EQ(fit.vcov.rows(), p);
  ASSERT_EQ(fit.vcov.cols(), p);
  ASSERT_EQ(fit.lambda.size(), fit.rho.size());
  ASSERT_EQ(fit.edf_per_term.size(), fit.rho.size());
  // What loads once writes and loads again to the same bytes.
  const auto rewritten = serialize_fit(fit);
  ASSERT_TRUE(rewritten.has_value());
  const auto reloaded = deserialize_fit(*rewritten);
  ASSERT_TRUE(reloaded.has_value()) << reloaded.error().display() << "\n" << frame;
  ASSERT_EQ(serialize_fit(*reloaded).value(), *rewritten);
  // Altered knots or columns may make the rebuild refuse, but never read out of bounds.
  const RowMatrix x = covariates();
  const auto model_matrix = rebuild(fit.predictor, x);
  if (model_matrix) {
    ASSERT_EQ(model_matrix->cols(), p) << frame;
    ASSERT_EQ(model_matrix->rows(), x.rows());
    ++tally.rebuilt;
  } else {
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(model_matrix.error().value));
  }
}

TEST(PersistenceDamagedFrames, EveryDamagedFrameLoadsConsistentlyOrIsRefused) {
  constexpr int frames = 12000;
  FrameDamager damager(20240611, donor_bodies());
  Tally tally;
  for (int i = 0; i < frames; ++i) {
    const std::string frame = damager.damaged_frame();
    const auto loaded = deserialize_fit(frame);
    if (loaded) {
      ++tally.loaded;
      check_loaded(*loaded, frame, tally);
      if (::testing::Test::HasFatalFailure()) {
        return;
      }
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(loaded.error().value)) << frame;
    const std::string message = error_message(loaded.error());
    ASSERT_EQ(message.rfind("FittedGam::deserialize: ", 0), 0U) << message;
    if (message.find("JSON decode failed") != std::string::npos) {
      ++tally.json_failures;
    } else if (message.find("inconsistent record") != std::string::npos) {
      ++tally.inconsistent;
    } else {
      ++tally.header_failures;
    }
  }
  // The damage must reach every stage, or the test proves little.
  const std::string summary = "loaded " + std::to_string(tally.loaded) + " (rebuilt " +
                              std::to_string(tally.rebuilt) + "), JSON failures " +
                              std::to_string(tally.json_failures) + ", inconsistent " +
                              std::to_string(tally.inconsistent) + ", header failures " +
                              std::to_string(tally.header_failures);
  EXPECT_GT(tally.loaded, frames / 50) << summary;
  EXPECT_GT(tally.rebuilt, frames / 100) << summary;
  EXPECT_GT(tally.json_failures, frames / 4) << summary;
  EXPECT_GT(tally.inconsistent, frames / 100) << summary;
  EXPECT_GT(tally.header_failures, frames / 100) << summary;
}

}  // namespace
}  // namespace krelm
