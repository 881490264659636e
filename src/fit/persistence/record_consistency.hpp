// Whether a decoded FittedGam holds together: vector lengths against each other, matrix
// shapes against knot counts, and the predictor's model-matrix width against beta. The
// JSON document rules cannot see these; a record that passes can be used for prediction
// without any out-of-range access.
#pragma once

#include <cstdint>

#include "../../error.hpp"
#include "../fitted_gam.hpp"

namespace krelm {

/// Columns of the model matrix [1 | term columns] that `predictor` rebuilds, when its
/// payload shapes agree (else the error). Error: InvalidParameter "{what}" (no prefix).
[[nodiscard]] Expected<std::uint64_t> consistent_predictor_width(const Predictor& predictor);

/// Checks, in this order: vcov is p × p with p = beta's length; rho, lambda and
/// edf_per_term have equal lengths; the predictor's shapes (knots ≥ 3, centring k × (k−1),
/// reparam_v (k−1) × (k−1), tensor xp and centring against the margin knots; additive lists
/// of equal length, no nested additive term, one column per non-tensor term, [col_a, col_b]
/// per tensor term, term_col_ranges contiguous from column 1 matching the term widths); the
/// predictor rebuilds p columns. Error: InvalidParameter
/// "FittedGam::deserialize: inconsistent record: {what}".
[[nodiscard]] Expected<void> check_record_consistency(const FittedGam& fit);

}  // namespace krelm
