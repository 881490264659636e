// Inverse-Gaussian Newton block. Both the log determinant and its derivatives use the
// prior-weighted Newton weights, so the score's gradient differentiates its own value.
#include "inverse_gaussian_newton.hpp"

#include <cmath>

#include "../family/glm_family.hpp"
#include "../linalg.hpp"
#include "../products.hpp"

namespace krelm {

namespace {

// An eigenvalue this small makes H_N numerically singular for the log determinant.
constexpr double eigenvalue_floor = 1e-300;

struct NewtonWeights {
  Vector weights;     ///< W_N,i
  Vector derivative;  ///< ∂W_N,i/∂η_i
};

// W_N = w·α/((1/m)²·V) with V = m³, α = 1 + (V′/V + g″/g′)(y − μ); under the log link
// ∂W_N/∂η = w·(μ − 4y)/μ².
NewtonWeights newton_weights(const InnerData& data, const Vector& mu) {
  const auto n = mu.size();
  NewtonWeights result{Vector(n), Vector(n)};
  for (Eigen::Index i = 0; i < n; ++i) {
    const double prior =
        data.prior_weights.empty() ? 1.0 : data.prior_weights[static_cast<std::size_t>(i)];
    const double m = std::max(mu(i), mean_floor);
    const double variance = std::max(mu(i) * mu(i) * mu(i), mean_floor);
    const double ratio = 3.0 * mu(i) * mu(i) / variance - 1.0 / m;
    const double alpha = 1.0 + ratio * (data.y(i) - mu(i));
    const double link_derivative = 1.0 / m;
    result.weights(i) = prior * alpha / (link_derivative * link_derivative * variance);
    result.derivative(i) = prior * (m - 4.0 * data.y(i)) / (m * m);
  }
  return result;
}

}  // namespace

void add_inverse_gaussian_newton_block(const InnerData& data, const RowMatrix& penalty_sum,
                                       const Vector& rho, InnerFit& fit) {
  const NewtonWeights newton = newton_weights(data, fit.mu);
  if (!newton.weights.array().isFinite().all()) {
    return;
  }
  RowMatrix hessian = weighted_gram(data.x, as_span(newton.weights)) + penalty_sum;
  hessian = (0.5 * (hessian + hessian.transpose())).eval();
  const auto eigen = symmetric_eigen(hessian);
  if (!eigen) {
    return;
  }
  double log_det = 0.0;
  for (const double value : eigen->values) {
    if (!std::isfinite(value) || std::abs(value) < eigenvalue_floor) {
      return;
    }
    log_det += std::log(std::abs(value));
  }
  fit.log_det = log_det;

  // H_N⁻¹ = Σ_k λ_k⁻¹ v_k v_kᵀ
  const RowMatrix inverse =
      eigen->vectors * eigen->values.cwiseInverse().asDiagonal() * eigen->vectors.transpose();
  const auto m = static_cast<Eigen::Index>(data.penalties.size());
  NewtonDerivatives extra;
  extra.dw_deta = newton.derivative;
  const RowMatrix x_inverse = data.x * inverse;  // n × p
  extra.leverage = x_inverse.cwiseProduct(data.x).rowwise().sum();
  extra.deta_drho = RowMatrix(data.x.rows(), m);
  extra.trace_terms = Vector(m);
  for (Eigen::Index j = 0; j < m; ++j) {
    const RowMatrix& penalty = data.penalties[static_cast<std::size_t>(j)];
    const double lambda = std::exp(rho(j));
    const Vector direction = inverse * (lambda * (penalty * fit.beta));
    extra.deta_drho.col(j) = -design_times(data.x, direction);
    extra.trace_terms(j) = lambda * inverse.cwiseProduct(penalty).sum();
  }
  fit.extra = std::move(extra);
}

}  // namespace krelm
