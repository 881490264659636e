// Special functions built only from log, exp and sin, so results do not depend on the
// platform's lgamma.
#include "special_functions.hpp"

#include <cmath>

namespace krelm {
namespace {

constexpr double pi = 3.141592653589793;
constexpr double half_log_two_pi = 0.9189385332046727;
/// Below this the asymptotic series of ψ and ψ′ is not yet accurate: shift upward first.
constexpr double asymptotic_start = 6.0;
/// Below this x + 1 rounds back to x and the upward shift would never end.
constexpr double shift_limit = -4503599627370496.0;  // −2⁵²

}  // namespace

double ln_gamma(double x) {
  if (x < 0.5) {
    // Reflection: Γ(x)Γ(1 − x) = π/sin(πx).
    return std::log(pi / std::sin(pi * x)) - ln_gamma(1.0 - x);
  }
  const double shifted = x - 1.0;
  const double t = shifted + 7.5;
  double series = 0.9999999999998099;
  series += 676.5203681218851 / (shifted + 1.0);
  series -= 1259.1392167224028 / (shifted + 2.0);
  series += 771.3234287776531 / (shifted + 3.0);
  series -= 176.6150291621406 / (shifted + 4.0);
  series += 12.507343278686905 / (shifted + 5.0);
  series -= 0.13857109526572012 / (shifted + 6.0);
  series += 9.984369578019572e-6 / (shifted + 7.0);
  series += 1.5056327351493116e-7 / (shifted + 8.0);
  return (shifted + 0.5) * std::log(t) + half_log_two_pi - t + std::log(series);
}

double digamma(double x) {
  if (x < shift_limit) {
    return std::nan("");
  }
  // ψ(x) = ψ(x + 1) − 1/x
  double shift_sum = 0.0;
  while (x < asymptotic_start) {
    shift_sum -= 1.0 / x;
    x += 1.0;
  }
  const double e = 1.0 / x;
  const double e2 = e * e;
  const double e4 = e2 * e2;
  const double e6 = e4 * e2;
  const double e8 = e4 * e4;
  return std::log(x) - e / 2.0 - e2 / 12.0 + e4 / 120.0 - e6 / 252.0 + e8 / 240.0 + shift_sum;
}

double trigamma(double x) {
  if (x < shift_limit) {
    return std::nan("");
  }
  // ψ′(x) = ψ′(x + 1) + 1/x²
  double shift_sum = 0.0;
  while (x < asymptotic_start) {
    shift_sum += 1.0 / (x * x);
    x += 1.0;
  }
  const double e = 1.0 / x;
  const double e2 = e * e;
  const double e3 = e * e2;
  const double e4 = e2 * e2;
  const double e5 = e * e4;
  const double e7 = e3 * e4;
  const double e9 = e * (e4 * e4);
  return e + e2 / 2.0 + e3 / 6.0 - e5 / 30.0 + e7 / 42.0 - e9 / 30.0 + shift_sum;
}

}  // namespace krelm
