// Predictor objects: a look-ahead for "kind", then one reader per payload.
#include "predictor_reader.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "field_readers.hpp"

namespace krelm {

namespace {

// In the order of the Predictor variants, which is also the order messages list them in.
constexpr std::array<std::string_view, 5> predictor_tags = {"cr", "re", "cr_stable", "additive",
                                                            "tensor"};
enum PredictorTag : std::size_t { CrTag, ReTag, CrStableTag, AdditiveTag, TensorTag };

JsonResult<std::size_t> match_predictor_tag(const std::string& tag, const JsonReader& reader) {
  for (std::size_t i = 0; i < predictor_tags.size(); ++i) {
    if (predictor_tags[i] == tag) {
      return i;
    }
  }
  return std::unexpected(
      reader.error_here("unknown variant `" + tag +
                        "`, expected one of `cr`, `re`, `cr_stable`, `additive`, `tensor`"));
}

// Walks the whole object once to find its tag. The payload readers need the variant before
// they see the first field, and the tag may come last; the reader rewinds afterwards.
JsonResult<std::size_t> look_ahead_for_kind(JsonReader& reader) {
  if (auto opened = reader.begin_object(); !opened) {
    return std::unexpected(std::move(opened.error()));
  }
  std::optional<std::size_t> tag_index;
  while (true) {
    auto key = reader.next_key();
    if (!key) {
      return std::unexpected(std::move(key.error()));
    }
    if (!key->has_value()) {
      break;
    }
    if (**key != "kind") {
      if (auto skipped = reader.skip_value(); !skipped) {
        return std::unexpected(std::move(skipped.error()));
      }
      continue;
    }
    if (tag_index) {
      return std::unexpected(reader.error_here("duplicate field `kind`"));
    }
    auto tag = read_tag(reader, "a predictor kind");
    if (!tag) {
      return std::unexpected(std::move(tag.error()));
    }
    auto matched = match_predictor_tag(*tag, reader);
    if (!matched) {
      return std::unexpected(std::move(matched.error()));
    }
    tag_index = *matched;
  }
  if (!tag_index) {
    return std::unexpected(reader.error_here("missing field `kind`"));
  }
  return *tag_index;
}

// Reads the object of one payload: `read_field(reader, index, payload)` for each known
// field, "kind" (already checked by the look-ahead) and unknown keys skipped.
template <class Payload, std::size_t N, class ReadField>
JsonResult<Payload> read_payload(JsonReader& reader,
                                 const std::array<std::string_view, N>& field_names,
                                 ReadField read_field) {
  if (auto opened = reader.begin_object(); !opened) {
    return std::unexpected(std::move(opened.error()));
  }
  FieldSet fields(field_names);
  Payload payload;
  while (true) {
    auto key = reader.next_key();
    if (!key) {
      return std::unexpected(std::move(key.error()));
    }
    if (!key->has_value()) {
      break;
    }
    std::optional<std::size_t> field;
    if (**key != "kind") {
      auto claimed = fields.claim(**key, reader);
      if (!claimed) {
        return std::unexpected(std::move(claimed.error()));
      }
      field = *claimed;
    }
    const JsonResult<void> read = field ? read_field(reader, *field, payload) : reader.skip_value();
    if (!read) {
      return std::unexpected(read.error());
    }
  }
  if (auto complete = fields.require_all(reader); !complete) {
    return std::unexpected(std::move(complete.error()));
  }
  return payload;
}

// Field lists in declaration order; the enums below name their indices.
constexpr std::array<std::string_view, 2> cr_fields = {"knots", "centring"};
enum CrField : std::size_t { CrKnots, CrCentring };

JsonResult<void> read_cr_field(JsonReader& reader, std::size_t field, CrPredictor& cr) {
  if (field == CrKnots) {
    return store_into(read_vector_object(reader), cr.knots);
  }
  return store_into(read_matrix_object(reader), cr.centring);
}

constexpr std::array<std::string_view, 1> re_fields = {"levels"};

JsonResult<void> read_re_field(JsonReader& reader, std::size_t /*field*/, RePredictor& re) {
  return store_into(read_float_list(reader), re.levels);
}

constexpr std::array<std::string_view, 3> cr_stable_fields = {"knots", "centring", "reparam_v"};
enum CrStableField : std::size_t { StableKnots, StableCentring, StableReparamV };

JsonResult<void> read_cr_stable_field(JsonReader& reader, std::size_t field,
                                      CrStablePredictor& stable) {
  switch (field) {
    case StableKnots:
      return store_into(read_vector_object(reader), stable.knots);
    case StableCentring:
      return store_into(read_matrix_object(reader), stable.centring);
    default:
      return store_into(read_matrix_object(reader), stable.reparam_v);
  }
}

using ColumnRange = std::pair<std::uint64_t, std::uint64_t>;

JsonResult<ColumnRange> read_column_range(JsonReader& reader) {
  auto bounds =
      read_json_array<std::uint64_t>(reader, "a pair [first, last_exclusive]", read_unsigned);
  if (!bounds) {
    return std::unexpected(std::move(bounds.error()));
  }
  if (bounds->size() != 2) {
    return std::unexpected(reader.error_here("invalid length " + std::to_string(bounds->size()) +
                                             ", expected a pair [first, last_exclusive]"));
  }
  return ColumnRange((*bounds)[0], (*bounds)[1]);
}

constexpr std::array<std::string_view, 3> additive_fields = {"term_predictors", "cols_used",
                                                             "term_col_ranges"};
enum AdditiveField : std::size_t { AdditiveTerms, AdditiveColsUsed, AdditiveColRanges };

JsonResult<void> read_additive_field(JsonReader& reader, std::size_t field,
                                     AdditivePredictor& additive) {
  switch (field) {
    case AdditiveTerms: {
      // Recursion here is bounded: each level opens an object and an array, and the reader
      // refuses to open more than its depth cap.
      auto terms = read_json_array<Predictor>(reader, "a sequence of predictors", read_predictor);
      return store_into(std::move(terms), additive.term_predictors);
    }
    case AdditiveColsUsed: {
      auto columns = read_json_array<std::vector<std::uint64_t>>(
          reader, "a sequence of column lists", read_unsigned_list);
      return store_into(std::move(columns), additive.cols_used);
    }
    default: {
      auto ranges =
          read_json_array<ColumnRange>(reader, "a sequence of column ranges", read_column_range);
      return store_into(std::move(ranges), additive.term_col_ranges);
    }
  }
}

JsonResult<void> read_margin_basis(JsonReader& reader) {
  auto tag = read_tag(reader, "a margin basis kind");
  if (!tag) {
    return std::unexpected(std::move(tag.error()));
  }
  if (*tag != "cr") {
    return std::unexpected(reader.error_here("unknown variant `" + *tag + "`, expected `cr`"));
  }
  return {};
}

constexpr std::array<std::string_view, 9> tensor_fields = {
    "col_a", "col_b", "bs_a", "bs_b", "knots_a", "knots_b", "xp_a", "xp_b", "centring"};
enum TensorField : std::size_t {
  TensorColA,
  TensorColB,
  TensorBsA,
  TensorBsB,
  TensorKnotsA,
  TensorKnotsB,
  TensorXpA,
  TensorXpB,
  TensorCentring,
};

JsonResult<void> read_tensor_field(JsonReader& reader, std::size_t field, TensorPredictor& tensor) {
  switch (field) {
    case TensorColA:
      return store_into(read_unsigned(reader), tensor.col_a);
    case TensorColB:
      return store_into(read_unsigned(reader), tensor.col_b);
    case TensorBsA:
    case TensorBsB:
      // The cubic regression spline is the only margin kind, so there is nothing to store.
      return read_margin_basis(reader);
    case TensorKnotsA:
      return store_into(read_vector_object(reader), tensor.knots_a);
    case TensorKnotsB:
      return store_into(read_vector_object(reader), tensor.knots_b);
    case TensorXpA:
      return store_into(read_matrix_object(reader), tensor.xp_a);
    case TensorXpB:
      return store_into(read_matrix_object(reader), tensor.xp_b);
    default:
      return store_into(read_matrix_object(reader), tensor.centring);
  }
}

template <class Payload>
JsonResult<Predictor> as_predictor(JsonResult<Payload>&& payload) {
  if (!payload) {
    return std::unexpected(std::move(payload.error()));
  }
  return Predictor{std::move(*payload)};
}

}  // namespace

JsonResult<Predictor> read_predictor(JsonReader& reader) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind != JsonValueKind::Object) {
    return std::unexpected(invalid_type_error(reader, "a predictor object"));
  }
  const JsonReader::Mark start = reader.mark();
  auto tag = look_ahead_for_kind(reader);
  if (!tag) {
    return std::unexpected(std::move(tag.error()));
  }
  reader.rewind(start);
  switch (*tag) {
    case CrTag:
      return as_predictor(read_payload<CrPredictor>(reader, cr_fields, read_cr_field));
    case ReTag:
      return as_predictor(read_payload<RePredictor>(reader, re_fields, read_re_field));
    case CrStableTag:
      return as_predictor(
          read_payload<CrStablePredictor>(reader, cr_stable_fields, read_cr_stable_field));
    case AdditiveTag:
      return as_predictor(
          read_payload<AdditivePredictor>(reader, additive_fields, read_additive_field));
    default:
      return as_predictor(read_payload<TensorPredictor>(reader, tensor_fields, read_tensor_field));
  }
}

}  // namespace krelm
