// Typed value readers and array objects of the serialised fit.
#include "field_readers.hpp"

#include <array>
#include <limits>
#include <utility>

#include "number_format.hpp"

namespace krelm {

namespace {

std::string_view kind_description(JsonValueKind kind) {
  switch (kind) {
    case JsonValueKind::Object:
      return "map";
    case JsonValueKind::Array:
      return "sequence";
    case JsonValueKind::String:
      return "string";
    case JsonValueKind::Number:
      return "number";
    case JsonValueKind::Boolean:
      return "boolean";
    case JsonValueKind::Null:
      return "null";
  }
  return "value";
}

// The parts of an array object before they are shaped into a vector or matrix.
struct ArrayObject {
  std::vector<std::uint64_t> dims;
  std::vector<double> data;
};

constexpr std::array<std::string_view, 3> array_object_fields = {"v", "dim", "data"};

enum ArrayObjectField : std::size_t { VersionField, DimField, DataField };

JsonResult<void> read_array_field(JsonReader& reader, std::size_t field, std::size_t rank,
                                  ArrayObject& array) {
  if (field == VersionField) {
    auto version = read_unsigned(reader);
    if (!version) {
      return std::unexpected(std::move(version.error()));
    }
    if (*version != 1) {
      return std::unexpected(reader.error_here("unknown array version"));
    }
    return {};
  }
  if (field == DimField) {
    auto dims = read_unsigned_list(reader);
    if (!dims) {
      return std::unexpected(std::move(dims.error()));
    }
    if (dims->size() != rank) {
      return std::unexpected(
          reader.error_here("invalid length " + std::to_string(dims->size()) + ", expected " +
                            (rank == 1 ? "1 dimension" : std::to_string(rank) + " dimensions")));
    }
    array.dims = std::move(*dims);
    return {};
  }
  auto data = read_json_array<double>(reader, "a sequence of f64", read_float);
  if (!data) {
    return std::unexpected(std::move(data.error()));
  }
  array.data = std::move(*data);
  return {};
}

// Whether the dims multiply out to exactly the data count. The product is checked for
// overflow against Eigen's signed index, so no extent that cannot be held gets through.
bool dims_match_data(const ArrayObject& array) {
  constexpr auto index_max = static_cast<std::uint64_t>(std::numeric_limits<Eigen::Index>::max());
  std::uint64_t product = 1;
  for (const std::uint64_t extent : array.dims) {
    if (extent > index_max) {
      return false;
    }
    if (extent != 0 && product > index_max / extent) {
      return false;
    }
    product *= extent;
  }
  return product == array.data.size();
}

JsonResult<ArrayObject> read_array_object(JsonReader& reader, std::size_t rank) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind != JsonValueKind::Object) {
    return std::unexpected(invalid_type_error(reader, "an array object"));
  }
  if (auto opened = reader.begin_object(); !opened) {
    return std::unexpected(std::move(opened.error()));
  }
  FieldSet fields(array_object_fields);
  ArrayObject array;
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
    if (!field->has_value()) {
      return std::unexpected(
          reader.error_here("unknown field `" + **key + "`, expected one of `v`, `dim`, `data`"));
    }
    if (auto read = read_array_field(reader, **field, rank, array); !read) {
      return std::unexpected(std::move(read.error()));
    }
  }
  if (auto complete = fields.require_all(reader); !complete) {
    return std::unexpected(std::move(complete.error()));
  }
  if (!dims_match_data(array)) {
    return std::unexpected(reader.error_here("data and dimension must match in size"));
  }
  return array;
}

}  // namespace

JsonResult<std::optional<std::size_t>> FieldSet::claim(std::string_view key,
                                                       const JsonReader& reader) {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (names_[i] == key) {
      if (seen_[i]) {
        return std::unexpected(reader.error_here("duplicate field `" + std::string(key) + "`"));
      }
      seen_[i] = true;
      return std::optional<std::size_t>(i);
    }
  }
  return std::optional<std::size_t>();
}

JsonResult<void> FieldSet::require_all(const JsonReader& reader) const {
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (!seen_[i]) {
      return std::unexpected(reader.error_here("missing field `" + std::string(names_[i]) + "`"));
    }
  }
  return {};
}

JsonError invalid_type_error(JsonReader& reader, std::string_view expected) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::move(kind.error());
  }
  return reader.error_at_next("invalid type: " + std::string(kind_description(*kind)) +
                              ", expected " + std::string(expected));
}

JsonResult<double> read_float(JsonReader& reader) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind == JsonValueKind::Null) {
    if (auto null = reader.read_null(); !null) {
      return std::unexpected(std::move(null.error()));
    }
    return std::numeric_limits<double>::quiet_NaN();
  }
  if (*kind != JsonValueKind::Number) {
    return std::unexpected(invalid_type_error(reader, "f64"));
  }
  auto token = reader.read_number();
  if (!token) {
    return std::unexpected(std::move(token.error()));
  }
  return parse_json_float(*token, reader.position());
}

JsonResult<std::uint64_t> read_unsigned(JsonReader& reader) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind != JsonValueKind::Number) {
    return std::unexpected(invalid_type_error(reader, "u64"));
  }
  auto token = reader.read_number();
  if (!token) {
    return std::unexpected(std::move(token.error()));
  }
  return parse_json_unsigned(*token, reader.position());
}

JsonResult<bool> read_bool(JsonReader& reader) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind != JsonValueKind::Boolean) {
    return std::unexpected(invalid_type_error(reader, "a boolean"));
  }
  return reader.read_boolean();
}

JsonResult<std::string> read_tag(JsonReader& reader, std::string_view expected) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind != JsonValueKind::String) {
    return std::unexpected(invalid_type_error(reader, expected));
  }
  return reader.read_string();
}

JsonResult<Vector> read_float_list(JsonReader& reader) {
  auto values = read_json_array<double>(reader, "a sequence of f64", read_float);
  if (!values) {
    return std::unexpected(std::move(values.error()));
  }
  return Eigen::Map<const Vector>(values->data(), static_cast<Eigen::Index>(values->size()));
}

JsonResult<std::vector<std::uint64_t>> read_unsigned_list(JsonReader& reader) {
  return read_json_array<std::uint64_t>(reader, "a sequence of u64", read_unsigned);
}

JsonResult<Vector> read_vector_object(JsonReader& reader) {
  auto array = read_array_object(reader, 1);
  if (!array) {
    return std::unexpected(std::move(array.error()));
  }
  return Eigen::Map<const Vector>(array->data.data(),
                                  static_cast<Eigen::Index>(array->data.size()));
}

JsonResult<RowMatrix> read_matrix_object(JsonReader& reader) {
  auto array = read_array_object(reader, 2);
  if (!array) {
    return std::unexpected(std::move(array.error()));
  }
  return Eigen::Map<const RowMatrix>(array->data.data(), static_cast<Eigen::Index>(array->dims[0]),
                                     static_cast<Eigen::Index>(array->dims[1]));
}

}  // namespace krelm
