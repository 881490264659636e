// Closed-form Gaussian fit: per ρ only p × p work plus one product Xβ and the RSS.
#include "closed_form.hpp"

#include "../design/design.hpp"
#include "../products.hpp"
#include "../work_counters.hpp"
#include "penalised_solve.hpp"

namespace krelm {

GaussianGram make_gaussian_gram(const InnerData& data) {
  return {weighted_gram(data.x, data.prior_weights),
          weighted_cross_product(data.x, data.prior_weights,
                                 {data.y.data(), static_cast<std::size_t>(data.y.size())})};
}

Expected<InnerFit> closed_form_fit(const InnerData& data, const GaussianGram& gram,
                                   const Vector& rho, ClosedFormOutput output) {
  count(work_counters().inner_fits);
  count(work_counters().inner_iterations);
  const RowMatrix penalised = gram.xtwx + penalty_sum(data.penalties, rho);
  auto solved = penalised_cholesky_solve(penalised, gram.xtwy);
  if (!solved) {
    return std::unexpected(std::move(solved.error()));
  }
  InnerFit fit;
  fit.beta = std::move(solved->beta);
  const auto n = data.y.size();
  double rss = 0.0;
  if (output == ClosedFormOutput::ScoreOnly) {
    rss = weighted_residual_sum_of_squares(data.x, fit.beta, data.y, data.prior_weights);
  } else {
    fit.mu = design_times(data.x, fit.beta);
    fit.eta = fit.mu;
    if (!data.prior_weights.empty()) {
      fit.working_weights = Eigen::Map<const Vector>(data.prior_weights.data(), n);
      for (Eigen::Index i = 0; i < n; ++i) {
        const double residual = data.y(i) - fit.mu(i);
        rss += fit.working_weights(i) * residual * residual;
      }
    } else {
      fit.working_weights = Vector::Ones(n);
      for (Eigen::Index i = 0; i < n; ++i) {
        const double residual = data.y(i) - fit.mu(i);
        rss += residual * residual;
      }
    }
    fit.working_response = data.y;
  }
  fit.chol_factor = std::move(solved->lower);
  fit.deviance = rss;
  fit.pearson = rss;
  fit.n = static_cast<std::size_t>(data.x.rows());
  fit.p = static_cast<std::size_t>(data.x.cols());
  fit.n_iter = 1;
  fit.converged = true;
  return fit;
}

}  // namespace krelm
