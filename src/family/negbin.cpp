// The negative binomial saturated log-likelihood.
#include "negbin.hpp"

#include <cmath>

#include "special_functions.hpp"

namespace krelm {

double negbin_saturated_loglik(const Vector& y, double theta) {
  const double ln_gamma_theta = ln_gamma(theta);
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    const double yi = y[i];
    const double count_term = yi > 0.0 ? yi * std::log(yi / (theta + yi)) : 0.0;
    total +=
        ln_gamma(yi + theta) - ln_gamma_theta + theta * std::log(theta / (theta + yi)) + count_term;
  }
  return total;
}

}  // namespace krelm
