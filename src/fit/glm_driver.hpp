// The fit driver of the seven exponential families: data checks, the outer Newton search
// on the Laplace score, one final inner fit and the post-fit quantities.
#pragma once

#include <cstddef>
#include <optional>

#include "../design/design.hpp"
#include "../error.hpp"
#include "../family/family.hpp"
#include "../outer/outer_newton.hpp"
#include "fitted_gam.hpp"

namespace krelm {

/// Fits `family` (Gaussian … InverseGaussian) on the design (consumed), taking ownership
/// of y and the weights. `x_rows` is the
/// number of covariate rows the design was built from. Errors: InvalidParameter for bad
/// data, then the score's or the final fit's errors, or NotConverged.
[[nodiscard]] Expected<FittedGam> fit_glm(FamilyKind family, Design design, std::size_t x_rows,
                                          Vector y, std::optional<Vector> prior_weights,
                                          const IterationHook& between_iterations = {});

/// The data checks of fit_glm alone, in their order (rows, weight length, response
/// domain, finite response, valid weights).
[[nodiscard]] Expected<void> check_glm_data(FamilyKind family, std::size_t x_rows,
                                            const VectorRef& y,
                                            const std::optional<Vector>& prior_weights);

}  // namespace krelm
