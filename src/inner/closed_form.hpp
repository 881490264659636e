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

/// β = (XᵀWX + S_λ)⁻¹XᵀWy; deviance = pearson = weighted RSS; n_iter = 1.
/// Error: SingularSystem from the penalised solve.
[[nodiscard]] Expected<InnerFit> closed_form_fit(const InnerData& data, const GaussianGram& gram,
                                                 const Vector& rho);

}  // namespace krelm
