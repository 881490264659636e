// Writing and reading the number text of a serialised fit, both through <charconv> so
// that no locale can change a digit and every written value reads back bit for bit.
#include "number_format.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace krelm {

namespace {

// Shortest round-trip digits d1 d2 … dn (no trailing zeros) and E with |x| = d1.d2…dn × 10^E.
struct DecimalDigits {
  std::string digits;
  int exponent = 0;
};

DecimalDigits shortest_decimal_digits(double magnitude) {
  // Scientific form without a precision is the shortest round trip: "d[.ddd]e±XX".
  std::array<char, 32> buffer{};
  const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                     std::chars_format::scientific);
  const std::string_view text(buffer.data(), written.ptr);
  const auto e_at = text.find('e');
  DecimalDigits decimal;
  for (const char c : text.substr(0, e_at)) {
    if (c != '.') {
      decimal.digits += c;
    }
  }
  std::string_view exponent_text = text.substr(e_at + 1);
  if (exponent_text.front() == '+') {
    exponent_text.remove_prefix(1);
  }
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(),
                  decimal.exponent);
  return decimal;
}

void append_positional(std::string& out, const DecimalDigits& decimal) {
  const auto n = static_cast<int>(decimal.digits.size());
  const int e = decimal.exponent;
  if (e >= n - 1) {
    out += decimal.digits;
    out.append(static_cast<std::size_t>(e - n + 1), '0');
    out += ".0";
  } else if (e >= 0) {
    const auto split = static_cast<std::size_t>(e + 1);
    out.append(decimal.digits, 0, split);
    out += '.';
    out.append(decimal.digits, split);
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-e - 1), '0');
    out += decimal.digits;
  }
}

void append_scientific(std::string& out, const DecimalDigits& decimal) {
  out += decimal.digits.front();
  if (decimal.digits.size() > 1) {
    out += '.';
    out.append(decimal.digits, 1);
  }
  out += decimal.exponent < 0 ? "e-" : "e+";
  out += std::to_string(std::abs(decimal.exponent));
}

// Decimal exponent of the leading non-zero digit of a JSON number token with a non-zero
// significand, the written exponent saturated far beyond any double's range. Only its
// sign matters: it tells an overflowing token from an underflowing one.
long long leading_digit_exponent(std::string_view token) {
  if (token.front() == '-') {
    token.remove_prefix(1);
  }
  const auto e_at = std::min(token.find_first_of("eE"), token.size());
  const std::string_view significand = token.substr(0, e_at);
  const auto point = std::min(significand.find('.'), significand.size());
  const auto first_nonzero = significand.find_first_of("123456789");
  constexpr long long saturation = 1'000'000'000;
  if (first_nonzero == std::string_view::npos) {
    return -saturation;
  }
  long long exponent = first_nonzero < point ? static_cast<long long>(point - first_nonzero) - 1
                                             : -static_cast<long long>(first_nonzero - point);
  if (e_at < token.size()) {
    std::string_view written = token.substr(e_at + 1);
    const bool negative = written.front() == '-';
    if (written.front() == '+' || written.front() == '-') {
      written.remove_prefix(1);
    }
    long long magnitude = 0;
    for (const char c : written) {
      magnitude = std::min(saturation, magnitude * 10 + (c - '0'));
    }
    exponent += negative ? -magnitude : magnitude;
  }
  return exponent;
}

}  // namespace

void append_json_float(std::string& out, double x) {
  if (!std::isfinite(x)) {
    out += "null";
    return;
  }
  if (std::signbit(x)) {
    out += '-';
  }
  if (x == 0.0) {
    out += "0.0";
    return;
  }
  const DecimalDigits decimal = shortest_decimal_digits(std::abs(x));
  if (decimal.exponent >= -5 && decimal.exponent <= 15) {
    append_positional(out, decimal);
  } else {
    append_scientific(out, decimal);
  }
}

JsonResult<double> parse_json_float(std::string_view token, std::size_t position) {
  double value = 0.0;
  const auto parsed = std::from_chars(token.data(), token.data() + token.size(), value);
  if (parsed.ec == std::errc() && parsed.ptr == token.data() + token.size()) {
    return value;
  }
  if (parsed.ec == std::errc::result_out_of_range) {
    // Out of range is either beyond the largest double (≈1.8e308) or below half the smallest
    // subnormal (≈2.5e-324); the leading digit's exponent separates the two by far.
    if (leading_digit_exponent(token) > 0) {
      return std::unexpected(JsonError{"number out of range", position});
    }
    return token.front() == '-' ? -0.0 : 0.0;
  }
  return std::unexpected(JsonError{"invalid number", position});
}

JsonResult<std::uint64_t> parse_json_unsigned(std::string_view token, std::size_t position) {
  if (token.find_first_of(".eE") != std::string_view::npos) {
    return std::unexpected(JsonError{"invalid type: floating point, expected u64", position});
  }
  if (token.front() == '-') {
    return std::unexpected(JsonError{"invalid value: negative integer, expected u64", position});
  }
  std::uint64_t value = 0;
  const auto parsed = std::from_chars(token.data(), token.data() + token.size(), value);
  if (parsed.ec == std::errc::result_out_of_range) {
    return std::unexpected(JsonError{"number out of range", position});
  }
  if (parsed.ec != std::errc() || parsed.ptr != token.data() + token.size()) {
    return std::unexpected(JsonError{"invalid number", position});
  }
  return value;
}

}  // namespace krelm
