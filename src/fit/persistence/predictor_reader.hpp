// Decodes a predictor object of a serialised fit: the "kind" tag, which may stand anywhere
// in the object, then the fields of that variant. Shapes are checked elsewhere
// (record_consistency).
#pragma once

#include "../../design/predictor.hpp"
#include "json_reader.hpp"

namespace krelm {

/// Reads one predictor object. Keys may come in any order and keys that are not fields of
/// the variant are skipped with their values. Errors: "missing field `kind`", "duplicate
/// field `…`", "unknown variant `…`, expected one of `cr`, `re`, `cr_stable`, `additive`,
/// `tensor`", "missing field `…`", and those of the field readers.
[[nodiscard]] JsonResult<Predictor> read_predictor(JsonReader& reader);

}  // namespace krelm
