// The fit driver of the ordered categorical family: builds its single-smooth design,
// checks the data, then estimates the log smoothing parameter and the R − 2 log-gap
// thresholds jointly with the shape score and the ordered-categorical Newton solver.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "../error.hpp"
#include "../family/family.hpp"
#include "../matrix.hpp"
#include "../outer/outer_newton.hpp"
#include "fitted_gam.hpp"

namespace krelm {

/// The data checks of the ordered categorical family, in order: rows of x against y,
/// weight length, R ≥ 3, y rounding into 1..R, R − 2 thresholds, exactly one penalty, then
/// valid weights. Errors: InvalidParameter with the message users see.
[[nodiscard]] Expected<void> check_ocat_data(const Family& family, std::size_t x_rows,
                                             const VectorRef& y,
                                             const std::optional<Vector>& prior_weights,
                                             std::size_t penalty_count);

/// Fits the Ocat `family` (R and starting thresholds) with a "cr", "re" or "cr_stable"
/// smooth of column 0 of x, taking ownership of y and the weights. Errors: InvalidParameter
/// "design must be 'cr', 're', or 'cr_stable'; got {design}", the design builder's errors,
/// the data checks, then the first score evaluation's or the final fit's error, or
/// NotConverged after 50 accepted steps.
[[nodiscard]] Expected<FittedGam> fit_ocat(const Family& family, const MatrixRef& x, Vector y,
                                           std::optional<Vector> prior_weights,
                                           const std::string& design_name, std::size_t k,
                                           const IterationHook& between_iterations = {});

}  // namespace krelm
