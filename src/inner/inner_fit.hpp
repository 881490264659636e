// The result every inner solver returns (closed form, PIRLS, the ordered-categorical
// Newton solver and the Armijo solver).
#pragma once

#include <cstddef>
#include <optional>

#include "../matrix.hpp"

namespace krelm {

/// Exact-Newton derivative information of the inverse-Gaussian PIRLS fit, which the score
/// needs because the log link is not canonical for that family. H_N = XᵀW_N X + S_λ.
struct NewtonDerivatives {
  Vector dw_deta;       ///< ∂W_N,i/∂η_i (length n)
  Vector leverage;      ///< x_iᵀ H_N⁻¹ x_i (length n)
  RowMatrix deta_drho;  ///< n × m, column j = −X·H_N⁻¹·λ_j·S_j·β̂
  Vector trace_terms;   ///< length m, λ_j·tr(H_N⁻¹S_j)
};

struct InnerFit {
  std::optional<double> log_det;  ///< log det of the penalised Hessian, when the solver knows it
  Vector beta;
  Vector eta;
  Vector mu;
  Vector working_weights;
  Vector working_response;
  RowMatrix chol_factor;  ///< lower L with L·Lᵀ = XᵀWX + S_λ (+ ridge for PIRLS)
  double deviance = 0.0;
  double pearson = 0.0;
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t n_iter = 0;
  std::optional<NewtonDerivatives> extra;
  bool converged = false;
};

}  // namespace krelm
