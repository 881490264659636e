// Number formatting for messages: the shortest decimal that reads back to the same
// double, positional (never an exponent), so users can paste values back.
#pragma once

#include <string>

namespace krelm {

/// 2.0 -> "2", 1e-7 -> "0.0000001", NaN -> "NaN", +-inf -> "inf"/"-inf", -0.0 -> "-0".
[[nodiscard]] std::string format_float(double value);

/// Three decimals in scientific notation with a bare exponent: 0.000123456 -> "1.235e-4",
/// 12345.6 -> "1.235e4", 0 -> "0.000e0".
[[nodiscard]] std::string format_scientific3(double value);

}  // namespace krelm
