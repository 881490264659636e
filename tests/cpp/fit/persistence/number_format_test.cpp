// The persisted number text: the writer's layout rules and the bit-for-bit read-back.
#include "fit/persistence/number_format.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace krelm {
namespace {

std::string written(double x) {
  std::string out;
  append_json_float(out, x);
  return out;
}

struct WrittenCase {
  const char* label;
  double value;
  const char* text;
};

TEST(PersistenceNumberFormat, WritesPositionalNearUnityAndScientificElsewhere) {
  const std::array cases = {
      WrittenCase{"zero", 0.0, "0.0"},
      WrittenCase{"negative zero keeps its sign", -0.0, "-0.0"},
      WrittenCase{"integer gets .0", 5.0, "5.0"},
      WrittenCase{"negative integer", -2.0, "-2.0"},
      WrittenCase{"digits around the point", 12.34, "12.34"},
      WrittenCase{"1e15 is the last positional power", 1e15, "1000000000000000.0"},
      WrittenCase{"17 significant digits stay positional", 123456789012345.67,
                  "123456789012345.67"},
      WrittenCase{"1e16 switches to an exponent with a sign", 1e16, "1e+16"},
      WrittenCase{"scientific with fraction digits", 1.5e300, "1.5e+300"},
      WrittenCase{"small fraction", 0.001234, "0.001234"},
      WrittenCase{"1e-5 is the last positional negative power", 0.00001, "0.00001"},
      WrittenCase{"1e-6 switches to an exponent", 1e-6, "1e-6"},
      WrittenCase{"negative exponent with fraction digits", 1.5e-7, "1.5e-7"},
      WrittenCase{"negative scientific", -2.5e-10, "-2.5e-10"},
      WrittenCase{"largest double", std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      WrittenCase{"smallest subnormal", std::numeric_limits<double>::denorm_min(), "5e-324"},
      WrittenCase{"shortest round trip, not 17 digits", 0.1, "0.1"},
      WrittenCase{"NaN", std::numeric_limits<double>::quiet_NaN(), "null"},
      WrittenCase{"infinity", std::numeric_limits<double>::infinity(), "null"},
      WrittenCase{"negative infinity", -std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(written(c.value), c.text);
  }
}

// Every finite double, whatever its magnitude, reads back to the same bits.
TEST(PersistenceNumberFormat, EveryFiniteDoubleReadsBackBitForBit) {
  std::mt19937_64 rng(20240611);
  std::uniform_int_distribution<std::uint64_t> bits;
  std::uniform_int_distribution<std::uint64_t> small_bits(0, (std::uint64_t{1} << 52) - 1);
  int checked = 0;
  for (int i = 0; i < 200000; ++i) {
    // Alternate uniformly random bit patterns (all exponents) with subnormals.
    const std::uint64_t pattern =
        i % 4 == 0 ? small_bits(rng) | (bits(rng) & (1ULL << 63)) : bits(rng);
    const double x = std::bit_cast<double>(pattern);
    if (!std::isfinite(x)) {
      continue;
    }
    const std::string text = written(x);
    const auto read = parse_json_float(text, 0);
    ASSERT_TRUE(read.has_value()) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*read), pattern) << text;
    ++checked;
  }
  EXPECT_GT(checked, 190000);
}

struct ReadCase {
  const char* label;
  const char* token;
  double value;
};

TEST(PersistenceNumberFormat, ReadsCorrectlyRoundedValuesAndUnderflowsToSignedZero) {
  const std::array cases = {
      ReadCase{"17 digits beyond the fast path", "0.30000000000000004", 0.30000000000000004},
      ReadCase{"exponent beyond 22", "1.2345678901234567e-200", 1.2345678901234567e-200},
      ReadCase{"more than 19 significant digits", "1.00000000000000000000000001", 1.0},
      ReadCase{"halfway between two doubles rounds to even", "9007199254740993",
               9007199254740992.0},
      ReadCase{"integer token", "42", 42.0},
      ReadCase{"upper-case exponent", "2E3", 2000.0},
      ReadCase{"below the smallest subnormal", "1e-400", 0.0},
      ReadCase{"huge negative exponent", "1e-99999999999999999999", 0.0},
      ReadCase{"zero with a huge exponent", "0e999999999", 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto read = parse_json_float(c.token, 0);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*read), std::bit_cast<std::uint64_t>(c.value));
  }
  const auto negative_underflow = parse_json_float("-1e-400", 0);
  ASSERT_TRUE(negative_underflow.has_value());
  EXPECT_TRUE(*negative_underflow == 0.0 && std::signbit(*negative_underflow));
}

struct RefusedCase {
  const char* label;
  const char* token;
  bool as_unsigned;
  const char* detail;
};

TEST(PersistenceNumberFormat, RefusesOverflowAndNonIntegersInUnsignedFields) {
  const std::array cases = {
      RefusedCase{"float overflow", "1e400", false, "number out of range"},
      RefusedCase{"float overflow just past the largest double", "1.8e308", false,
                  "number out of range"},
      RefusedCase{"huge exponent", "-1e99999999999999999999", false, "number out of range"},
      RefusedCase{"unsigned overflow", "18446744073709551616", true, "number out of range"},
      RefusedCase{"unsigned with fraction", "5.0", true,
                  "invalid type: floating point, expected u64"},
      RefusedCase{"unsigned with exponent", "5e0", true,
                  "invalid type: floating point, expected u64"},
      RefusedCase{"negative unsigned", "-5", true, "invalid value: negative integer, expected u64"},
      RefusedCase{"negative zero unsigned", "-0", true,
                  "invalid value: negative integer, expected u64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto detail_of = [](const auto& result) {
      return result ? std::string("<accepted>") : result.error().detail;
    };
    const std::string detail = c.as_unsigned ? detail_of(parse_json_unsigned(c.token, 7))
                                             : detail_of(parse_json_float(c.token, 7));
    EXPECT_EQ(detail, c.detail);
  }
  const auto largest = parse_json_unsigned("18446744073709551615", 0);
  ASSERT_TRUE(largest.has_value());
  EXPECT_EQ(*largest, std::numeric_limits<std::uint64_t>::max());
}

}  // namespace
}  // namespace krelm
