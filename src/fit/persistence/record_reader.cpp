// The record level of the JSON body: fourteen fields, by key or by position.
#include "record_reader.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "field_readers.hpp"
#include "predictor_reader.hpp"

namespace krelm {

namespace {

// Declaration order of FittedGam, which is also the order of the array form.
constexpr std::array<std::string_view, 14> record_fields = {
    "beta",    "rho",       "lambda",     "scale",     "edf_total", "edf_per_term", "n",
    "n_iters", "converged", "reml_value", "predictor", "vcov",      "link_kind",    "shape_params"};
// Indices into record_fields.
enum RecordField : std::size_t {
  BetaField,
  RhoField,
  LambdaField,
  ScaleField,
  EdfTotalField,
  EdfPerTermField,
  NField,
  NItersField,
  ConvergedField,
  RemlValueField,
  PredictorField,
  VcovField,
  LinkKindField,
  ShapeParamsField,
};

JsonResult<LinkKind> read_link_kind(JsonReader& reader) {
  auto name = read_tag(reader, "a link kind");
  if (!name) {
    return std::unexpected(std::move(name.error()));
  }
  if (*name == "Identity") {
    return LinkKind::Identity;
  }
  if (*name == "Log") {
    return LinkKind::Log;
  }
  if (*name == "Logit") {
    return LinkKind::Logit;
  }
  return std::unexpected(reader.error_here("unknown variant `" + *name +
                                           "`, expected one of `Identity`, `Log`, `Logit`"));
}

JsonResult<void> read_record_field(JsonReader& reader, std::size_t field, FittedGam& fit) {
  switch (field) {
    case BetaField:
      return store_into(read_vector_object(reader), fit.beta);
    case RhoField:
      return store_into(read_vector_object(reader), fit.rho);
    case LambdaField:
      return store_into(read_vector_object(reader), fit.lambda);
    case ScaleField:
      return store_into(read_float(reader), fit.scale);
    case EdfTotalField:
      return store_into(read_float(reader), fit.edf_total);
    case EdfPerTermField:
      return store_into(read_vector_object(reader), fit.edf_per_term);
    case NField:
      return store_into(read_unsigned(reader), fit.n);
    case NItersField:
      return store_into(read_unsigned(reader), fit.n_iters);
    case ConvergedField:
      return store_into(read_bool(reader), fit.converged);
    case RemlValueField:
      return store_into(read_float(reader), fit.reml_value);
    case PredictorField:
      return store_into(read_predictor(reader), fit.predictor);
    case VcovField:
      return store_into(read_matrix_object(reader), fit.vcov);
    case LinkKindField:
      return store_into(read_link_kind(reader), fit.link_kind);
    default:
      return store_into(read_vector_object(reader), fit.shape_params);
  }
}

JsonResult<FittedGam> read_record_object(JsonReader& reader) {
  if (auto opened = reader.begin_object(); !opened) {
    return std::unexpected(std::move(opened.error()));
  }
  FieldSet fields(record_fields);
  FittedGam fit;
  while (true) {
    auto key = reader.next_key();
    if (!key) {
      return std::unexpected(std::move(key.error()));
    }
    if (!key->has_value()) {
      break;
    }
    auto field = fields.claim(**key, reader);
    if (!field) {
      return std::unexpected(std::move(field.error()));
    }
    const JsonResult<void> read =
        field->has_value() ? read_record_field(reader, **field, fit) : reader.skip_value();
    if (!read) {
      return std::unexpected(read.error());
    }
  }
  if (auto complete = fields.require_all(reader); !complete) {
    return std::unexpected(std::move(complete.error()));
  }
  return fit;
}

JsonResult<FittedGam> read_record_sequence(JsonReader& reader) {
  constexpr const char* expected_length = ", expected an array of 14 values";
  if (auto opened = reader.begin_array(); !opened) {
    return std::unexpected(std::move(opened.error()));
  }
  FittedGam fit;
  for (std::size_t field = 0; field < record_fields.size(); ++field) {
    auto more = reader.has_next_element();
    if (!more) {
      return std::unexpected(std::move(more.error()));
    }
    if (!*more) {
      return std::unexpected(
          reader.error_here("invalid length " + std::to_string(field) + expected_length));
    }
    if (auto read = read_record_field(reader, field, fit); !read) {
      return std::unexpected(std::move(read.error()));
    }
  }
  auto more = reader.has_next_element();
  if (!more) {
    return std::unexpected(std::move(more.error()));
  }
  if (*more) {
    return std::unexpected(
        reader.error_at_next(std::string("invalid length: more than 14 values") + expected_length));
  }
  return fit;
}

}  // namespace

JsonResult<FittedGam> decode_record_body(std::string_view body) {
  JsonReader reader(body);
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  JsonResult<FittedGam> fit;
  if (*kind == JsonValueKind::Object) {
    fit = read_record_object(reader);
  } else if (*kind == JsonValueKind::Array) {
    fit = read_record_sequence(reader);
  } else {
    return std::unexpected(invalid_type_error(reader, "struct FittedGam"));
  }
  if (!fit) {
    return fit;
  }
  if (auto end = reader.expect_end(); !end) {
    return std::unexpected(std::move(end.error()));
  }
  return fit;
}

}  // namespace krelm
