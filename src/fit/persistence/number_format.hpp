// The text of JSON numbers in a serialised fit: how a float64 is written (shortest
// round-trip digits, positional near unity, exponent far from it) and how number tokens
// read back into float64 and unsigned fields. Tokenising JSON is left to the reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json_reader.hpp"

namespace krelm {

/// Appends a finite x in the persisted number format: 0.0 / -0.0; the shortest digits that
/// read back to x, positional for decimal exponents −5…15 ("5.0", "0.001234",
/// "1000000000000000.0"), scientific otherwise ("1e+16", "1.5e-7"). A NaN or an infinity
/// appends "null".
void append_json_float(std::string& out, double x);

/// The float64 nearest to the decimal value of a number token that the reader has already
/// checked against the JSON grammar. Correctly rounded, so every value written by
/// append_json_float reads back bit for bit. A magnitude below the smallest subnormal reads
/// as a signed zero. `position` places the errors. Error detail: "number out of range" when
/// the magnitude exceeds the largest finite double.
[[nodiscard]] JsonResult<double> parse_json_float(std::string_view token, std::size_t position);

/// A grammar-checked number token read into an unsigned 64-bit field: plain decimal digits
/// only. `position` places the errors. Error details: a sign, fraction or exponent is refused
/// as the wrong type or value; more than 2^64 − 1 is "number out of range".
[[nodiscard]] JsonResult<std::uint64_t> parse_json_unsigned(std::string_view token,
                                                            std::size_t position);

}  // namespace krelm
