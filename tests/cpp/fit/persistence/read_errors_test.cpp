// Every refusal of deserialize_fit, in the order of its checks: frame header first, then
// the JSON document with the position of the failure, each as an InvalidParameter.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "body_text.hpp"
#include "fit/persistence/frame.hpp"
#include "sample_fits.hpp"

namespace krelm {
namespace {

using testing::frame_around;
using testing::replace_once;

// A small Re fit written by serialize_fit (see the layout test for its exact text).
const std::string small_body =
    R"({"beta":{"v":1,"dim":[3],"data":[0.5,1.25,-2.0]},)"
    R"("rho":{"v":1,"dim":[1],"data":[0.0]},"lambda":{"v":1,"dim":[1],"data":[1.0]},)"
    R"("scale":1.0,"edf_total":2.5,"edf_per_term":{"v":1,"dim":[1],"data":[1.5]},)"
    R"("n":10,"n_iters":3,"converged":true,"reml_value":-4.0,)"
    R"("predictor":{"kind":"re","levels":[1.0,2.0]},)"
    R"("vcov":{"v":1,"dim":[3,3],"data":[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0]},)"
    R"("link_kind":"Identity","shape_params":{"v":1,"dim":[0],"data":[]}})";

std::string with_header_byte(std::string frame, std::size_t offset, unsigned char value) {
  frame[offset] = static_cast<char>(value);
  return frame;
}

std::string with_length(std::string frame, std::uint64_t length) {
  for (std::size_t i = 0; i < 8; ++i) {
    frame[9 + i] = static_cast<char>((length >> (8 * i)) & 0xFFU);
  }
  return frame;
}

// The body with `from` replaced by `to`, and the failure position one past the last byte of
// `marker` in the new body (`marker` defaults to `to`).
struct Edit {
  std::string body;
  std::size_t position;
};

Edit edit(std::string_view from, std::string_view to, std::string_view marker = {}) {
  const std::string body = replace_once(small_body, from, to);
  const std::string_view probe = marker.empty() ? to : marker;
  const std::size_t at = body.find(probe);
  EXPECT_NE(at, std::string::npos) << probe;
  return {body, at + probe.size()};
}

std::string json_failure(std::size_t position, const std::string& detail) {
  return "FittedGam::deserialize: JSON decode failed at byte " + std::to_string(position) + ": " +
         detail + " at line 1 column " + std::to_string(position);
}

struct ErrorCase {
  std::string label;
  std::string bytes;
  std::string message;
};

std::vector<ErrorCase> header_cases() {
  const std::string frame = frame_around(small_body);
  const std::string d = std::to_string(small_body.size());
  const std::string unsupported_2 =
      "FittedGam::deserialize: unsupported format_version=2 (this build expects 1). "
      "Re-serialize with a matching krelm release, or roll a migration.";
  return {
      {"empty", "", "FittedGam::deserialize: buffer too short (0 < 17 header bytes)"},
      {"one byte short of a header", frame.substr(0, 16),
       "FittedGam::deserialize: buffer too short (16 < 17 header bytes)"},
      {"first byte altered", with_header_byte(frame, 0, 'X'),
       "FittedGam::deserialize: bad magic; expected [75, 82, 69, 76, 77], got [88, 82, 69, 76, "
       "77]"},
      {"bad magic is reported before a bad version",
       with_header_byte(with_header_byte(frame, 4, 0xFF), 5, 2),
       "FittedGam::deserialize: bad magic; expected [75, 82, 69, 76, 77], got [75, 82, 69, 76, "
       "255]"},
      {"version 2", frame_around(small_body, 2), unsupported_2},
      {"version is read as all four bytes", with_header_byte(frame, 8, 1),
       "FittedGam::deserialize: unsupported format_version=16777217 (this build expects 1). "
       "Re-serialize with a matching krelm release, or roll a migration."},
      {"bad version is reported before a truncated body", frame_around(small_body, 2).substr(0, 20),
       unsupported_2},
      {"length overflows with the header", with_length(frame, UINT64_MAX),
       "FittedGam::deserialize: length overflow"},
      {"largest length that does not overflow", with_length(frame, UINT64_MAX - 17),
       "FittedGam::deserialize: truncated body (have " + d +
           " bytes, header says 18446744073709551598 payload bytes follow the 17-byte header)"},
      {"cut short by one byte", frame.substr(0, frame.size() - 1),
       "FittedGam::deserialize: truncated body (have " + std::to_string(small_body.size() - 1) +
           " bytes, header says " + d + " payload bytes follow the 17-byte header)"},
      {"header only, empty body", frame_around(""), json_failure(0, "EOF while parsing a value")},
  };
}

std::vector<ErrorCase> document_cases() {
  std::vector<ErrorCase> cases;
  const auto add = [&cases](std::string label, const Edit& e, const std::string& detail) {
    cases.push_back({std::move(label), frame_around(e.body), json_failure(e.position, detail)});
  };
  const auto add_body = [&cases](std::string label, const std::string& body, std::size_t position,
                                 const std::string& detail) {
    cases.push_back({std::move(label), frame_around(body), json_failure(position, detail)});
  };
  const std::size_t d = small_body.size();

  add_body("empty object", "{}", 2, "missing field `beta`");
  add_body("a string is no record", R"("fit")", 1,
           "invalid type: string, expected struct FittedGam");
  add_body("trailing characters inside the body", small_body + " x", d + 2, "trailing characters");
  add_body("a second document", small_body + "{}", d + 1, "trailing characters");
  add_body("body cut inside the document", small_body.substr(0, 40), 40,
           "EOF while parsing a list");
  std::vector<std::string> values;
  for (const auto& member : testing::object_members(small_body)) {
    values.push_back(testing::member_value(member));
  }
  values.pop_back();
  const std::string thirteen = testing::join(values, '[', ']');
  add_body("array form with 13 values", thirteen, thirteen.size(),
           "invalid length 13, expected an array of 14 values");
  values.push_back(R"({"v":1,"dim":[0],"data":[]})");
  values.emplace_back("0");
  const std::string fifteen = testing::join(values, '[', ']');
  add_body("array form with 15 values", fifteen, fifteen.size() - 1,
           "invalid length: more than 14 values, expected an array of 14 values");
  add("unknown predictor kind", edit(R"("kind":"re")", R"("kind":"spline")"),
      "unknown variant `spline`, expected one of `cr`, `re`, `cr_stable`, `additive`, `tensor`");
  add("predictor without kind", edit(R"("kind":"re",)", "", R"("levels":[1.0,2.0]})"),
      "missing field `kind`");
  add("kind given twice",
      edit(R"("kind":"re",)", R"("kind":"re","kind":"re",)", R"("kind":"re","kind":)"),
      "duplicate field `kind`");
  add("kind not a string", edit(R"("kind":"re")", R"("kind":3)"),
      "invalid type: number, expected a predictor kind");
  add("payload field missing", edit(R"(,"levels":[1.0,2.0])", "", R"("kind":"re"})"),
      "missing field `levels`");
  add("record field given twice", edit(R"("n":10,)", R"("n":10,"n":10,)", R"("n":10,"n":)"),
      "duplicate field `n`");
  add("record field missing", edit(R"("n_iters":3,)", "", small_body.substr(d - 2)),
      "missing field `n_iters`");
  add("unknown key inside an array object",
      edit(R"("rho":{"v":1,)", R"("rho":{"w":0,"v":1,)", R"("rho":{"w":)"),
      "unknown field `w`, expected one of `v`, `dim`, `data`");
  add("array object field given twice",
      edit(R"("rho":{"v":1,)", R"("rho":{"v":1,"v":1,)", R"("rho":{"v":1,"v":)"),
      "duplicate field `v`");
  add("array object without v", edit(R"("rho":{"v":1,)", R"("rho":{)", R"("data":[0.0]})"),
      "missing field `v`");
  add("array version 2", edit(R"("rho":{"v":1,)", R"("rho":{"v":2,)", R"("rho":{"v":2)"),
      "unknown array version");
  add("vector with two dims", edit(R"("dim":[3])", R"("dim":[3,1])"),
      "invalid length 2, expected 1 dimension");
  add("matrix with one dim", edit(R"("dim":[3,3])", R"("dim":[9])"),
      "invalid length 1, expected 2 dimensions");
  add("data count differs from dims", edit(R"("dim":[3])", R"("dim":[4])", R"(-2.0]})"),
      "data and dimension must match in size");
  add("huge dim with no data", edit(R"("dim":[0])", R"("dim":[1000000000000000000])", "[]}"),
      "data and dimension must match in size");
  add("dims whose product overflows",
      edit(R"("dim":[3,3])", R"("dim":[4294967296,4294967296])", R"(0.0,1.0]})"),
      "data and dimension must match in size");
  const std::string vcov_data = R"("data":[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0]})";
  add("no data but a column count beyond the index range",
      edit(R"("dim":[3,3],)" + vcov_data, R"("dim":[0,9223372036854775808],"data":[]})"),
      "data and dimension must match in size");
  add("unsigned with a fraction", edit(R"("n":10,)", R"("n":10.0,)", R"("n":10.0)"),
      "invalid type: floating point, expected u64");
  add("unsigned with an exponent", edit(R"("n":10,)", R"("n":1e1,)", R"("n":1e1)"),
      "invalid type: floating point, expected u64");
  add("negative unsigned", edit(R"("n":10,)", R"("n":-10,)", R"("n":-10)"),
      "invalid value: negative integer, expected u64");
  add("unsigned out of range",
      edit(R"("n":10,)", R"("n":18446744073709551616,)", R"("n":18446744073709551616)"),
      "number out of range");
  add("null unsigned", edit(R"("n":10,)", R"("n":null,)", R"("n":n)"),
      "invalid type: null, expected u64");
  add("converged as a number", edit(R"("converged":true)", R"("converged":1)"),
      "invalid type: number, expected a boolean");
  add("unknown link kind", edit(R"("Identity")", R"("Probit")"),
      "unknown variant `Probit`, expected one of `Identity`, `Log`, `Logit`");
  add("float given as a string", edit(R"("scale":1.0)", R"("scale":"1.0")", R"("scale":")"),
      "invalid type: string, expected f64");
  add("float overflow", edit(R"("scale":1.0)", R"("scale":1e400)"), "number out of range");
  add("levels as an array object",
      edit(R"("levels":[1.0,2.0])", R"("levels":{"v":1})", R"("levels":{)"),
      "invalid type: map, expected a sequence of f64");
  add("trailing comma", edit("[1.0,2.0]", "[1.0,2.0,]", "[1.0,2.0,]"), "trailing comma");
  add("leading zero", edit(R"("n":10)", R"("n":010)", R"("n":01)"), "invalid number");
  add("bare word", edit(R"("converged":true)", R"("converged":yes)", R"("converged":y)"),
      "expected value");
  add("misspelled literal", edit(R"("converged":true)", R"("converged":ture)", R"("converged":tu)"),
      "expected ident");
  add("lone surrogate in a key", edit(R"("n":10,)", R"("\ud800x":1,"n":10,)", R"("\ud800x)"),
      "lone leading surrogate in hex escape");
  add("invalid UTF-8 in a key", edit(R"("n":10,)", "\"\xC3\x28\":1,\"n\":10,", "\"\xC3"),
      "invalid UTF-8 in string");
  add("control character in a string", edit(R"("Identity")", "\"Iden\ttity\"", "\"Iden\t"),
      "control character (\\u0000-\\u001F) found while parsing a string");

  // 127 arrays inside the record object reach the 128 cap; one more is refused.
  const std::string at_cap = std::string(127, '[') + std::string(127, ']');
  cases.push_back(
      {"nesting exactly at the cap is read",
       frame_around(replace_once(small_body, R"("n":10,)", R"("skip":)" + at_cap + R"(,"n":10,)")),
       ""});
  const Edit deep = edit(R"("n":10,)", R"("skip":)" + std::string(100000, '[') + R"(,"n":10,)",
                         R"("skip":)" + std::string(128, '['));
  add("nesting beyond the cap, without exhausting the stack", deep, "recursion limit exceeded");
  return cases;
}

void expect_refusals(const std::vector<ErrorCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto loaded = deserialize_fit(c.bytes);
    if (c.message.empty()) {
      EXPECT_TRUE(loaded.has_value()) << loaded.error().display();
      continue;
    }
    ASSERT_FALSE(loaded.has_value());
    ASSERT_TRUE(std::holds_alternative<InvalidParameter>(loaded.error().value));
    EXPECT_EQ(error_message(loaded.error()), c.message);
  }
}

TEST(PersistenceReadErrors, FrameHeaderChecksComeFirstInTheirOrder) {
  expect_refusals(header_cases());
}

TEST(PersistenceReadErrors, DocumentRulesReportDetailAndPosition) {
  ASSERT_TRUE(deserialize_fit(frame_around(small_body)).has_value());
  expect_refusals(document_cases());
}

TEST(PersistenceReadErrors, MultiLineBodyReportsLineAndColumn) {
  const std::string body = "{\n  \"beta\": 1\n}";
  const auto loaded = deserialize_fit(frame_around(body));
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(error_message(loaded.error()),
            "FittedGam::deserialize: JSON decode failed at byte 11: invalid type: number, "
            "expected an array object at line 2 column 11");
}

TEST(PersistenceReadErrors, TensorMarginBasisMustBeCr) {
  auto frame = serialize_fit(testing::sample_additive_fit());
  ASSERT_TRUE(frame.has_value());
  const std::string additive_body = frame->substr(17);
  const std::string damaged = replace_once(additive_body, R"("bs_b":"cr")", R"("bs_b":"tp")");
  const std::size_t position = damaged.find(R"("bs_b":"tp")") + 11;
  const auto loaded = deserialize_fit(frame_around(damaged));
  ASSERT_FALSE(loaded.has_value());
  EXPECT_EQ(error_message(loaded.error()),
            json_failure(position, "unknown variant `tp`, expected `cr`"));
}

}  // namespace
}  // namespace krelm
