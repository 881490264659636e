// Prediction arithmetic on a fit: linear predictor, inverse link, Wald intervals for
// predictions and for contrasts, and the standard normal quantile they use.
#pragma once

#include "../error.hpp"
#include "../family/family.hpp"
#include "../matrix.hpp"
#include "fitted_gam.hpp"

namespace krelm {

/// Φ⁻¹(p) by Acklam's rational approximation; p outside (0, 1) is an internal fault.
[[nodiscard]] double normal_quantile(double p);

/// μ = g⁻¹(η) element by element (the logistic in two branches, so exp never overflows).
[[nodiscard]] Vector apply_inverse_link(LinkKind link, const Vector& eta);

struct Interval {
  Vector centre;
  Vector lower;
  Vector upper;
};

/// "level must be in (0, 1); got level={level}"; also refuses a level so close to 1 that
/// (level + 1)·0.5 rounds to 1.
[[nodiscard]] Expected<double> interval_quantile(double level);

/// η = Xβ with se_i = √max(x_iᵀVx_i, 0) and (η, η − z·se, z·se + η). O(p²) per row.
[[nodiscard]] Interval linear_predictor_interval(const RowMatrix& lpmatrix, const Vector& beta,
                                                 const RowMatrix& vcov, double z);

/// Contrasts X_a − X_b row by row (a single row broadcasts). Errors: the width and
/// row-count messages.
[[nodiscard]] Expected<Interval> contrast_interval(const RowMatrix& lpmatrix_a,
                                                   const RowMatrix& lpmatrix_b, const Vector& beta,
                                                   const RowMatrix& vcov, double z);

}  // namespace krelm
