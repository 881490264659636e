// The closed-form fit of the Gaussian identity-link family at given smoothing parameters,
// on a Gram matrix and cross-product formed once per fit.
#pragma once

#include "../error.hpp"
#include "../matrix.hpp"
#include "inner_data.hpp"
#include "inner_fit.hpp"

namespace krelm {

/// XᵀWX and XᵀWy, formed once per fit (W = diag(prior weights), or I without weights).
struct GaussianGram {
  RowMatrix xtwx;
  Vector xtwy;
};

[[nodiscard]] GaussianGram make_gaussian_gram(const InnerData& data);

/// What a caller needs back: the score reads only β, the factor and the RSS, so it skips
/// the n-sized vectors (fitted values, weights, working response).
enum class ClosedFormOutput { Full, ScoreOnly };

/// β = (XᵀWX + S_λ)⁻¹XᵀWy; deviance = pearson = weighted RSS; n_iter = 1. With ScoreOnly the
/// vectors eta, mu, working_weights and working_response are left empty.
/// Error: SingularSystem from the penalised solve.
[[nodiscard]] Expected<InnerFit> closed_form_fit(const InnerData& data, const GaussianGram& gram,
                                                 const Vector& rho,
                                                 ClosedFormOutput output = ClosedFormOutput::Full);

}  // namespace krelm
