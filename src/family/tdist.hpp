// Scaled t pieces beyond PIRLS: decoding the shape components and the saturated term of
// the shape score. The PIRLS pieces live with the other families (glm_family).
#pragma once

#include <cstddef>

namespace krelm {

struct TDistParams {
  double sigma2;  ///< σ² = exp(z1)
  double nu;      ///< ν = 2 + exp(z2), always above 2
};

/// Decodes (log σ², log(ν − 2)).
[[nodiscard]] TDistParams tdist_params_from(double log_sigma2, double log_nu_minus_two);

/// ls = −(n/2)·ln(ν·π·σ²), the same for every observation and unweighted.
[[nodiscard]] double tdist_saturated_loglik(std::size_t n, double nu, double sigma2);

}  // namespace krelm
