// The exact-Newton information of an inverse-Gaussian PIRLS fit. The log link is not
// canonical for this family, so the Laplace score needs the Hessian with full Newton
// weights W_N = w·α/(g′²V) rather than the Fisher weights PIRLS iterates with.
#pragma once

#include "../matrix.hpp"
#include "inner_data.hpp"
#include "inner_fit.hpp"

namespace krelm {

/// Fills `fit.log_det` = log|det H_N| and `fit.extra` (derivatives of W_N along the
/// smoothing parameters) when H_N = XᵀW_N X + S_λ is finite and non-singular; leaves both
/// absent otherwise, so the score falls back to the Fisher factor.
void add_inverse_gaussian_newton_block(const InnerData& data, const RowMatrix& penalty_sum,
                                       const Vector& rho, InnerFit& fit);

}  // namespace krelm
