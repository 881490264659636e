// Decodes the JSON body of a serialised fit into a FittedGam: the record as an object with
// its fourteen keys in any order (unknown keys skipped) or as an array of the fourteen
// values. Only the JSON body rules are checked here; record_consistency checks the shapes.
#pragma once

#include <string_view>

#include "../fitted_gam.hpp"
#include "json_reader.hpp"

namespace krelm {

/// The record held by `body`, which must be one JSON document followed by whitespace only.
/// Errors carry the reader's detail and the position of the failure in `body`.
[[nodiscard]] JsonResult<FittedGam> decode_record_body(std::string_view body);

}  // namespace krelm
