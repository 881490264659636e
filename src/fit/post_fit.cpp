// Post-fit inference (see the header).
#include "post_fit.hpp"

#include <cmath>
#include <limits>

#include "../cholesky_inverse.hpp"
#include "../products.hpp"

namespace krelm {

double edf_total(const RowMatrix& x, const Vector& working_weights, const RowMatrix& inverse) {
  return trace_of_product(inverse, weighted_gram(x, as_span(working_weights)));
}

Vector edf_per_penalty(const std::vector<RowMatrix>& penalties, const Vector& rho,
                       const RowMatrix& inverse) {
  Vector edf(static_cast<Eigen::Index>(penalties.size()));
  for (std::size_t j = 0; j < penalties.size(); ++j) {
    const RowMatrix& penalty = penalties[j];
    double penalised_rows = 0.0;
    for (Eigen::Index r = 0; r < penalty.rows(); ++r) {
      // A NaN entry compares unequal to zero, so it counts.
      penalised_rows += (penalty.row(r).array() != 0.0).any() ? 1.0 : 0.0;
    }
    const auto index = static_cast<Eigen::Index>(j);
    edf(index) = penalised_rows - std::exp(rho(index)) * trace_of_product(inverse, penalty);
  }
  return edf;
}

double gaussian_scale(double deviance, const std::vector<RowMatrix>& penalties, const Vector& rho,
                      const Vector& beta, double n, double null_space_dim) {
  double penalised = deviance;
  for (std::size_t j = 0; j < penalties.size(); ++j) {
    penalised += std::exp(rho(static_cast<Eigen::Index>(j))) * beta.dot(penalties[j] * beta);
  }
  const double residual_dof = n - null_space_dim;
  if (residual_dof <= 0.0) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return penalised / residual_dof;
}

RowMatrix posterior_covariance(const RowMatrix& inverse, double scale) {
  if (scale - 1.0 == 0.0 || std::isnan(scale)) {
    return inverse;
  }
  return scale * inverse;
}

}  // namespace krelm
