// A small strict JSON pull reader over one in-memory text: RFC 8259 syntax only, strings
// checked for valid UTF-8, nesting capped, every failure reported with the number of
// bytes read up to it. What the values mean is left to the record decoder.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace krelm {

/// A failure of the reader or of a document rule checked on top of it.
struct JsonError {
  std::string detail;
  /// Bytes of the text up to and including the failing byte (the text length at its end).
  std::size_t position = 0;
};

template <class T>
using JsonResult = std::expected<T, JsonError>;

enum class JsonValueKind { Object, Array, String, Number, Boolean, Null };

/// Reads values one token at a time. Containers are walked with begin_object/next_key and
/// begin_array/has_next_element; every other value is read or skipped whole.
/// Invariant: depth_ counts the containers opened and not yet closed, never above max_depth.
class JsonReader {
 public:
  /// Deeper nesting is refused before it is entered, so hostile input cannot exhaust
  /// the stack of a recursive decoder either.
  static constexpr std::size_t max_depth = 128;

  /// A saved place to come back to after looking ahead inside a value. Valid while the
  /// containers open at the mark stay open.
  struct Mark {
    std::size_t position = 0;
    std::size_t depth = 0;
  };

  explicit JsonReader(std::string_view text) : text_(text) {}

  /// Skips whitespace and tells which kind of value comes next, without consuming it.
  /// Errors: "EOF while parsing a value", "expected value".
  [[nodiscard]] JsonResult<JsonValueKind> peek_kind();

  /// Consumes "{". Error: "recursion limit exceeded" beyond max_depth.
  [[nodiscard]] JsonResult<void> begin_object();
  /// The next key of the innermost object with its ":" consumed, or nullopt once its "}"
  /// is consumed. The caller reads or skips the value before asking again.
  [[nodiscard]] JsonResult<std::optional<std::string>> next_key();

  /// Consumes "[". Error: "recursion limit exceeded" beyond max_depth.
  [[nodiscard]] JsonResult<void> begin_array();
  /// True when another element of the innermost array follows; false once its "]" is
  /// consumed.
  [[nodiscard]] JsonResult<bool> has_next_element();

  /// A string value, unescaped to UTF-8.
  [[nodiscard]] JsonResult<std::string> read_string();
  /// The text of a number token, checked against the JSON number grammar.
  [[nodiscard]] JsonResult<std::string_view> read_number();
  [[nodiscard]] JsonResult<bool> read_boolean();
  [[nodiscard]] JsonResult<void> read_null();
  /// Reads and discards one whole value, nested containers included (without recursion).
  [[nodiscard]] JsonResult<void> skip_value();

  /// Succeeds when only whitespace remains. Error: "trailing characters".
  [[nodiscard]] JsonResult<void> expect_end();

  /// Bytes consumed so far (the end of the value just read).
  [[nodiscard]] std::size_t position() const { return position_; }

  [[nodiscard]] Mark mark() const { return {position_, depth_}; }
  void rewind(Mark mark) {
    position_ = mark.position;
    depth_ = mark.depth;
  }

  /// An error placed at the last byte consumed (the end of the value just read).
  [[nodiscard]] JsonError error_here(std::string detail) const {
    return {std::move(detail), position_};
  }

  /// An error placed at the next unread byte (the start of a value only peeked at), or at
  /// the end of the text.
  [[nodiscard]] JsonError error_at_next(std::string detail) const;

 private:
  void skip_whitespace();
  [[nodiscard]] bool at_end() const { return position_ >= text_.size(); }
  [[nodiscard]] char next_char() const { return text_[position_]; }
  [[nodiscard]] JsonResult<void> open_container(char bracket, bool is_object);
  [[nodiscard]] JsonResult<void> read_escape_into(std::string& out);
  [[nodiscard]] JsonResult<unsigned> read_hex4();
  [[nodiscard]] JsonResult<void> read_literal(std::string_view literal);
  [[nodiscard]] JsonResult<void> consume_digits();

  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t depth_ = 0;
  // Per open container (index = its depth): whether no element was read yet, and its kind.
  std::array<bool, max_depth + 1> first_in_container_{};
  std::array<bool, max_depth + 1> container_is_object_{};
};

}  // namespace krelm
