// The part of a FittedGam that every driver fills the same way from its search.
#pragma once

#include <cstddef>

#include "../matrix.hpp"
#include "fitted_gam.hpp"

namespace krelm {

/// Sets rho, lambda = exp(rho) element by element (the system math library), n, n_iters
/// and reml_value.
void record_search(FittedGam& record, const Vector& rho, std::size_t iters, double value,
                   std::size_t x_rows);

/// β and the REML value are finite: a fit never reports success on a broken result.
[[nodiscard]] bool record_is_finite(const FittedGam& record);

}  // namespace krelm
