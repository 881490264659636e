// The JSON body of a serialised fit: the fourteen record fields in declaration order,
// predictors tagged by "kind", float64 arrays as {"v":1,"dim":[…],"data":[…]} objects.
#pragma once

#include <string>

#include "../fitted_gam.hpp"

namespace krelm {

/// The compact JSON document of `fit` (no whitespace; a NaN or an infinity is written as
/// null). Cannot fail.
[[nodiscard]] std::string encode_record_body(const FittedGam& fit);

}  // namespace krelm
