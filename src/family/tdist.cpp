// Scaled t shape decoding and saturated term.
#include "tdist.hpp"

#include <cmath>

namespace krelm {

TDistParams tdist_params_from(double log_sigma2, double log_nu_minus_two) {
  return {std::exp(log_sigma2), std::exp(log_nu_minus_two) + 2.0};
}

double tdist_saturated_loglik(std::size_t n, double nu, double sigma2) {
  constexpr double pi = 3.141592653589793;
  return -(static_cast<double>(n) / 2.0) * std::log(nu * pi * sigma2);
}

}  // namespace krelm
