// Ordered-categorical Newton iteration, step halving and finalisation. Unlike PIRLS the
// penalised Hessian gets no ridge, a failed factorisation is not re-wrapped, and
// convergence is judged on the largest change of η.
#include "ocat_newton.hpp"

#include <cmath>
#include <string>

#include "../design/design.hpp"
#include "../family/ocat.hpp"
#include "../linalg.hpp"
#include "../products.hpp"
#include "../work_counters.hpp"

namespace krelm {

namespace {

// √(machine epsilon): the slack of the halving test scales with it.
constexpr double sqrt_epsilon = 1.4901161193847656e-8;
/// Most step halvings per iteration before the previous iterate is kept.
constexpr int max_newton_halvings = 100;

/// The fixed inputs of one solve.
struct OcatSystem {
  const InnerData& data;
  const Vector& cut_points;
  const RowMatrix& penalty;  ///< S_λ
};

struct Iterate {
  Vector beta;
  Vector eta;
  double deviance = 0.0;
  double penalised = 0.0;
};

void evaluate_iterate(const OcatSystem& system, Iterate& iterate) {
  design_times_into(system.data.x, iterate.beta, iterate.eta);
  iterate.deviance =
      ocat_deviance(system.data.y, iterate.eta, system.data.prior_weights, system.cut_points);
  iterate.penalised = iterate.deviance + iterate.beta.dot(system.penalty * iterate.beta);
}

/// W_i = max(½·w_i·h_i, 1e-12) and z_i = η_i − g_i/max(h_i, 1e-12): the Newton step of
/// D + βᵀS_λβ written as a weighted least-squares problem (halved, as S_λ enters once).
void newton_weights_and_response(const OcatSystem& system, const Vector& eta, Vector& weights_out,
                                 Vector& response_out) {
  Vector first;
  Vector second;
  ocat_eta_derivatives(system.data.y, eta, system.cut_points, first, second);
  const auto& prior = system.data.prior_weights;
  weights_out.resize(eta.size());
  response_out.resize(eta.size());
  for (Eigen::Index i = 0; i < eta.size(); ++i) {
    const double prior_weight = prior.empty() ? 1.0 : prior[static_cast<std::size_t>(i)];
    const double weight = 0.5 * prior_weight * second[i];
    // Written so that a NaN weight falls to the floor.
    weights_out[i] = weight > ocat_curvature_floor ? weight : ocat_curvature_floor;
    const double curvature = second[i] > ocat_curvature_floor ? second[i] : ocat_curvature_floor;
    response_out[i] = eta[i] - first[i] / curvature;
  }
}

/// L of XᵀWX + S_λ, unridged. Error: SingularSystem "Cholesky failed: {lapack text}".
Expected<RowMatrix> factor_penalised_hessian(const OcatSystem& system, const Vector& weights) {
  RowMatrix lower = weighted_gram(system.data.x, as_span(weights)) + system.penalty;
  if (auto factored = factor_cholesky_in_place(lower); !factored) {
    return std::unexpected(singular_system("Cholesky failed: " + error_message(factored.error())));
  }
  return lower;
}

bool needs_halving(const Iterate& trial, double previous_penalised, std::size_t iteration) {
  if (!std::isfinite(trial.penalised) || !trial.eta.array().isFinite().all()) {
    return true;
  }
  // At the first iteration an increase is accepted: only non-finite values force halving.
  const double threshold = (std::abs(previous_penalised) + 0.1) * 10.0 * sqrt_epsilon;
  return iteration > 0 && trial.penalised - previous_penalised > threshold;
}

/// max_i |a_i − b_i|, NaN differences ignored.
double largest_change(const Vector& a, const Vector& b) {
  double largest = 0.0;
  for (Eigen::Index i = 0; i < a.size(); ++i) {
    const double change = std::abs(a[i] - b[i]);
    if (change > largest) {
      largest = change;
    }
  }
  return largest;
}

Expected<InnerFit> finalise(const OcatSystem& system, Iterate&& iterate, std::size_t n_iter,
                            bool converged) {
  InnerFit fit;
  newton_weights_and_response(system, iterate.eta, fit.working_weights, fit.working_response);
  auto lower = factor_penalised_hessian(system, fit.working_weights);
  if (!lower) {
    return std::unexpected(std::move(lower.error()));
  }
  fit.pearson =
      (fit.working_weights.array() * (fit.working_response - iterate.eta).array().square()).sum();
  fit.chol_factor = std::move(*lower);
  fit.beta = std::move(iterate.beta);
  fit.mu = iterate.eta;  // identity link: the latent mean is η itself
  fit.eta = std::move(iterate.eta);
  fit.deviance = iterate.deviance;
  fit.n = static_cast<std::size_t>(system.data.x.rows());
  fit.p = static_cast<std::size_t>(system.data.x.cols());
  fit.n_iter = n_iter;
  fit.converged = converged;
  return fit;
}

}  // namespace

Vector ocat_starting_eta(const Vector& y, const Vector& cut_points) {
  const auto n_cats = static_cast<std::size_t>(cut_points.size() - 1);
  const auto last = static_cast<Eigen::Index>(n_cats);
  Vector eta(y.size());
  for (Eigen::Index i = 0; i < y.size(); ++i) {
    const auto k = static_cast<Eigen::Index>(ocat_category(y[i], n_cats));
    const double lower = k == 1 ? -2.0 : cut_points[k - 1];
    const double upper = k == last ? cut_points[last - 1] + 1.0 : cut_points[k];
    eta[i] = (lower + upper) / 2.0;
  }
  return eta;
}

Expected<InnerFit> ocat_newton_fit(const InnerData& data, std::size_t n_cats,
                                   const std::vector<double>& thresholds, const Vector& rho,
                                   const OcatNewtonSettings& settings, const Vector* start_eta) {
  count(work_counters().inner_fits);
  const RowMatrix penalty = penalty_sum(data.penalties, rho);
  const Vector cut_points = ocat_cut_points(n_cats, thresholds);
  const OcatSystem system{data, cut_points, penalty};

  Iterate current;
  current.eta = start_eta != nullptr ? *start_eta : ocat_starting_eta(data.y, cut_points);
  current.deviance = ocat_deviance(data.y, current.eta, data.prior_weights, cut_points);
  current.beta = Vector::Zero(data.x.cols());
  current.penalised = current.deviance;
  if (settings.max_iter == 0) {
    return finalise(system, std::move(current), 0, false);
  }

  Vector weights;
  Vector response;
  Iterate trial;
  for (std::size_t iteration = 0;;) {
    count(work_counters().inner_iterations);
    newton_weights_and_response(system, current.eta, weights, response);
    auto lower = factor_penalised_hessian(system, weights);
    if (!lower) {
      return std::unexpected(std::move(lower.error()));
    }
    // β_new = A⁻¹XᵀWz by forward and back substitution with L.
    trial.beta = weighted_cross_product(data.x, as_span(weights), as_span(response));
    cholesky_solve_in_place(*lower, trial.beta);
    evaluate_iterate(system, trial);
    int halvings = 0;
    while (needs_halving(trial, current.penalised, iteration) && halvings < max_newton_halvings) {
      trial.beta = (current.beta + trial.beta) / 2.0;
      evaluate_iterate(system, trial);
      ++halvings;
    }
    if (needs_halving(trial, current.penalised, iteration)) {
      return finalise(system, std::move(current), iteration + 1, false);
    }
    const double eta_change = largest_change(trial.eta, current.eta);
    std::swap(current, trial);
    if (iteration > 0 && eta_change < settings.tol) {
      return finalise(system, std::move(current), iteration + 1, true);
    }
    ++iteration;
    if (iteration == settings.max_iter) {
      return finalise(system, std::move(current), iteration, false);
    }
  }
}

}  // namespace krelm
