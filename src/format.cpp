// Message number formatting through std::to_chars (shortest round trip, no locale).
#include "format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace krelm {

std::string format_float(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value > 0 ? "inf" : "-inf";
  }
  // Fixed notation without a precision is the shortest round-trip form; 1e308 needs 309 digits.
  std::array<char, 400> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
  return {buffer.data(), result.ptr};
}

std::string format_scientific3(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value > 0 ? "inf" : "-inf";
  }
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific, 3);
  const std::string text(buffer.data(), result.ptr);
  const auto e_pos = text.find('e');
  std::string mantissa = text.substr(0, e_pos);
  std::string exponent = text.substr(e_pos + 1);
  bool negative = false;
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
    negative = exponent[0] == '-';
    exponent.erase(0, 1);
  }
  const auto first_digit = exponent.find_first_not_of('0');
  exponent = first_digit == std::string::npos ? "0" : exponent.substr(first_digit);
  return mantissa + "e" + (negative ? "-" : "") + exponent;
}

}  // namespace krelm
