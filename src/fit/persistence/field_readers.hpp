// Typed readers for the values of a serialised fit on top of the JSON reader: floats
// (null reads as NaN), unsigned integers, booleans, tags, plain lists, the
// {"v":1,"dim":[…],"data":[…]} array objects, and the bookkeeping of an object's fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../../matrix.hpp"
#include "json_reader.hpp"

namespace krelm {

/// The fields of one JSON object decoded into a struct: which were seen, duplicates,
/// missing ones.
class FieldSet {
 public:
  /// `names` must outlive the set.
  explicit FieldSet(std::span<const std::string_view> names)
      : names_(names), seen_(names.size(), false) {}

  /// The index of `key` among the names, or nullopt for a key that is not a field.
  /// Error: "duplicate field `{key}`".
  [[nodiscard]] JsonResult<std::optional<std::size_t>> claim(std::string_view key,
                                                             const JsonReader& reader);
  /// Error: "missing field `{name}`" for the first field, in declaration order, not seen.
  [[nodiscard]] JsonResult<void> require_all(const JsonReader& reader) const;

 private:
  std::span<const std::string_view> names_;
  std::vector<bool> seen_;
};

/// "invalid type: {what the next value is}, expected {expected}", placed at that value.
[[nodiscard]] JsonError invalid_type_error(JsonReader& reader, std::string_view expected);

/// A float64 field: a number, or null for NaN (NaN and infinities are written as null).
[[nodiscard]] JsonResult<double> read_float(JsonReader& reader);
/// An unsigned 64-bit field: plain decimal digits.
[[nodiscard]] JsonResult<std::uint64_t> read_unsigned(JsonReader& reader);
/// true or false.
[[nodiscard]] JsonResult<bool> read_bool(JsonReader& reader);
/// A string value holding a tag; `expected` describes the accepted tags in type errors.
[[nodiscard]] JsonResult<std::string> read_tag(JsonReader& reader, std::string_view expected);

/// A plain JSON array whose elements `read_element` reads one by one; `expected` describes
/// the list in type errors.
template <class Element, class ReadElement>
[[nodiscard]] JsonResult<std::vector<Element>> read_json_array(JsonReader& reader,
                                                               std::string_view expected,
                                                               ReadElement read_element) {
  auto kind = reader.peek_kind();
  if (!kind) {
    return std::unexpected(std::move(kind.error()));
  }
  if (*kind != JsonValueKind::Array) {
    return std::unexpected(invalid_type_error(reader, expected));
  }
  if (auto opened = reader.begin_array(); !opened) {
    return std::unexpected(std::move(opened.error()));
  }
  // Grows with the elements actually present: bounded by the text, never by a claimed size.
  std::vector<Element> elements;
  while (true) {
    auto more = reader.has_next_element();
    if (!more) {
      return std::unexpected(std::move(more.error()));
    }
    if (!*more) {
      return elements;
    }
    auto element = read_element(reader);
    if (!element) {
      return std::unexpected(std::move(element.error()));
    }
    elements.push_back(std::move(*element));
  }
}

/// Moves a successfully read value into `target`, or passes the error on.
template <class T, class Target>
[[nodiscard]] JsonResult<void> store_into(JsonResult<T>&& value, Target& target) {
  if (!value) {
    return std::unexpected(std::move(value.error()));
  }
  target = std::move(*value);
  return {};
}

/// A plain JSON array of float64 values (null reads as NaN).
[[nodiscard]] JsonResult<Vector> read_float_list(JsonReader& reader);
/// A plain JSON array of unsigned integers.
[[nodiscard]] JsonResult<std::vector<std::uint64_t>> read_unsigned_list(JsonReader& reader);

/// A one-dimensional array object. Errors: "unknown field", "duplicate field", "missing
/// field", "unknown array version", "invalid length" (dim not of one entry), "data and
/// dimension must match in size".
[[nodiscard]] JsonResult<Vector> read_vector_object(JsonReader& reader);
/// A two-dimensional array object, data in row-major order; errors as for vectors.
[[nodiscard]] JsonResult<RowMatrix> read_matrix_object(JsonReader& reader);

}  // namespace krelm
