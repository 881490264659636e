// The inner solver of the ordered categorical family: full Newton steps on the penalised
// deviance D(β) + βᵀS_λβ, with working weights and response from the first two
// η-derivatives of the unit deviance (the deviance is not of exponential-family form, so
// Fisher scoring does not apply).
#pragma once

#include <cstddef>
#include <vector>

#include "../error.hpp"
#include "../matrix.hpp"
#include "inner_data.hpp"
#include "inner_fit.hpp"

namespace krelm {

struct OcatNewtonSettings {
  std::size_t max_iter = 50;
  double tol = 1e-9;  ///< on the largest absolute change of η between iterations
};

/// Floor of the Newton weights and of the second derivative in the working response.
constexpr double ocat_curvature_floor = 1e-12;

/// Newton fit at ρ for R = `n_cats` categories and the R − 2 log-gap `thresholds`; y holds
/// the categories (any real y is read as its nearest category). Reaching the cap or a step
/// that 100 halvings cannot repair returns converged = false. Error: SingularSystem
/// "Cholesky failed: {lapack text}" (no ridge is added to the penalised Hessian).
[[nodiscard]] Expected<InnerFit> ocat_newton_fit(const InnerData& data, std::size_t n_cats,
                                                 const std::vector<double>& thresholds,
                                                 const Vector& rho,
                                                 const OcatNewtonSettings& settings,
                                                 const Vector* start_eta = nullptr);

/// The starting η of each observation: the middle of its category's interval, with the
/// open end intervals closed at −2 below and c_{R−1} + 1 above.
[[nodiscard]] Vector ocat_starting_eta(const Vector& y, const Vector& cut_points);

}  // namespace krelm
