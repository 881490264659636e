// PIRLS iteration, step halving and finalisation.
#include "pirls.hpp"

#include <cmath>

#include "../design/design.hpp"
#include "../products.hpp"
#include "../work_counters.hpp"
#include "penalised_solve.hpp"

namespace krelm {

namespace {

// √(machine epsilon): the slack of the halving test scales with it.
constexpr double sqrt_epsilon = 1.4901161193847656e-8;

struct Iterate {
  Vector beta;
  Vector eta;
  Vector mu;
  double deviance = 0.0;
  double penalised = 0.0;
  bool terms_finite = true;  ///< every η_i, μ_i and 2·d_i finite
};

double quadratic_form(const RowMatrix& penalty, const Vector& beta) {
  return beta.dot(penalty * beta);
}

void evaluate_iterate(const InnerData& data, const PirlsFamily& family, const RowMatrix& penalty,
                      Iterate& iterate) {
  design_times_into(data.x, iterate.beta, iterate.eta);
  inverse_link(family, iterate.eta, iterate.mu);
  const CheckedDeviance checked =
      checked_deviance(family, data.y, iterate.eta, iterate.mu, data.prior_weights);
  iterate.deviance = checked.deviance;
  iterate.terms_finite = checked.terms_finite;
  iterate.penalised = iterate.deviance + quadratic_form(penalty, iterate.beta);
}

bool needs_halving(const Iterate& trial, double previous_penalised, std::size_t iteration) {
  if (!std::isfinite(trial.penalised) || !trial.terms_finite) {
    return true;
  }
  // At the first iteration an increase is accepted: only non-finite values force halving.
  const double threshold = (std::abs(previous_penalised) + 0.1) * 10.0 * sqrt_epsilon;
  return iteration > 0 && trial.penalised - previous_penalised > threshold;
}

Expected<InnerFit> finalise(const InnerData& data, const PirlsFamily& family,
                            const RowMatrix& penalty, Iterate&& iterate, std::size_t n_iter,
                            bool converged) {
  InnerFit fit;
  working_weights_and_response(family, data.y, iterate.eta, iterate.mu, data.prior_weights,
                               fit.working_weights, fit.working_response);
  const RowMatrix hessian = weighted_gram(data.x, as_span(fit.working_weights)) + penalty;
  auto factor = ridged_cholesky(hessian, solve_ridge_factor);
  if (!factor) {
    return std::unexpected(singular_system("Cholesky failed: " + error_message(factor.error())));
  }
  fit.pearson =
      (fit.working_weights.array() * (fit.working_response - iterate.eta).array().square()).sum();
  fit.chol_factor = std::move(*factor);
  fit.beta = std::move(iterate.beta);
  fit.eta = std::move(iterate.eta);
  fit.mu = std::move(iterate.mu);
  fit.deviance = iterate.deviance;
  fit.n = static_cast<std::size_t>(data.x.rows());
  fit.p = static_cast<std::size_t>(data.x.cols());
  fit.n_iter = n_iter;
  fit.converged = converged;
  return fit;
}

}  // namespace

Expected<InnerFit> pirls_with_penalty(const InnerData& data, const PirlsFamily& family,
                                      const RowMatrix& penalty, const PirlsSettings& settings,
                                      const Vector* start_eta) {
  count(work_counters().inner_fits);
  const auto p = data.x.cols();
  Iterate current;
  if (start_eta != nullptr) {
    current.eta = *start_eta;
  } else {
    starting_eta(family, data.y, current.eta);
  }
  inverse_link(family, current.eta, current.mu);
  current.deviance = deviance(family, data.y, current.mu, data.prior_weights);
  current.beta = Vector::Zero(p);
  current.penalised = current.deviance;
  if (settings.max_iter == 0) {
    return finalise(data, family, penalty, std::move(current), 0, false);
  }

  Vector weights;
  Vector response;
  Iterate trial;
  for (std::size_t iteration = 0;;) {
    count(work_counters().inner_iterations);
    working_weights_and_response(family, data.y, current.eta, current.mu, data.prior_weights,
                                 weights, response);
    const RowMatrix hessian = weighted_gram(data.x, as_span(weights)) + penalty;
    const Vector rhs = weighted_cross_product(data.x, as_span(weights), as_span(response));
    auto solved = penalised_cholesky_solve(hessian, rhs);
    if (!solved) {
      if (const auto* singular = std::get_if<SingularSystem>(&solved.error().value)) {
        return std::unexpected(singular_system("PIRLS factor: " + singular->message));
      }
      return std::unexpected(std::move(solved.error()));
    }
    trial.beta = std::move(solved->beta);
    evaluate_iterate(data, family, penalty, trial);
    int halvings = 0;
    bool halve = needs_halving(trial, current.penalised, iteration);
    while (halve && halvings < max_step_halvings) {
      trial.beta = (current.beta + trial.beta) / 2.0;
      evaluate_iterate(data, family, penalty, trial);
      halve = needs_halving(trial, current.penalised, iteration);
      ++halvings;
    }
    if (halve) {
      return finalise(data, family, penalty, std::move(current), iteration + 1, false);
    }
    const double previous_deviance = current.deviance;
    std::swap(current, trial);
    if (iteration > 0 &&
        std::abs(previous_deviance - current.deviance) / (std::abs(previous_deviance) + 1e-30) <
            settings.tol) {
      return finalise(data, family, penalty, std::move(current), iteration + 1, true);
    }
    ++iteration;
    if (iteration == settings.max_iter) {
      return finalise(data, family, penalty, std::move(current), iteration, false);
    }
  }
}

Expected<InnerFit> pirls(const InnerData& data, const PirlsFamily& family, const Vector& rho,
                         const PirlsSettings& settings, const Vector* start_eta) {
  return pirls_with_penalty(data, family, penalty_sum(data.penalties, rho), settings, start_eta);
}

}  // namespace krelm
