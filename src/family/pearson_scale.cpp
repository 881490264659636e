// Pearson X² over the residual degrees of freedom, one tight loop per family.
#include "pearson_scale.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "../internal_fault.hpp"
#include "glm_family.hpp"
#include "guards.hpp"

namespace krelm {
namespace {

/// Σ_i w_i·r_i²/v_i with (r_i, v_i) = residual_and_variance(y_i, μ_i).
template <class ResidualAndVariance>
double pearson_sum(const Vector& y, const Vector& mu, std::span<const double> prior_weights,
                   ResidualAndVariance residual_and_variance) {
  double total = 0.0;
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    const double weight = prior_weights.empty() ? 1.0 : prior_weights[static_cast<std::size_t>(i)];
    const auto [residual, variance] = residual_and_variance(y[i], mu[i]);
    total += weight * (residual * residual) / variance;
  }
  return total;
}

struct ResidualVariance {
  double residual;
  double variance;
};

double pearson_statistic(FamilyKind kind, const Vector& y, const Vector& mu,
                         std::span<const double> prior_weights) {
  switch (kind) {
    case FamilyKind::QuasiPoisson:
      return pearson_sum(y, mu, prior_weights, [](double yi, double mui) {
        const double m = floor_at(mui, mean_floor);
        return ResidualVariance{yi - m, m};
      });
    case FamilyKind::Gamma:
      return pearson_sum(y, mu, prior_weights, [](double yi, double mui) {
        const double m = floor_at(mui, mean_floor);
        return ResidualVariance{yi - m, m * m};
      });
    case FamilyKind::InverseGaussian:
      return pearson_sum(y, mu, prior_weights, [](double yi, double mui) {
        const double m = floor_at(mui, mean_floor);
        return ResidualVariance{yi - m, m * m * m};
      });
    case FamilyKind::QuasiBinomial:
      return pearson_sum(y, mu, prior_weights, [](double yi, double mui) {
        const double floored = floor_at(mui, probability_floor);
        const double probability = ceiling_at(floored, probability_ceiling);
        return ResidualVariance{yi - floored, probability * (1.0 - probability)};
      });
    default:
      break;
  }
  internal_fault("pearson_scale called for family " + std::string(display_name(kind)));
}

}  // namespace

double pearson_scale(FamilyKind kind, const Vector& y, const Vector& mu,
                     std::span<const double> prior_weights, double edf_total) {
  const double residual_df = static_cast<double>(y.size()) - edf_total;
  const double statistic = pearson_statistic(kind, y, mu, prior_weights);
  if (!(residual_df > 0.0)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return statistic / residual_df;
}

}  // namespace krelm
