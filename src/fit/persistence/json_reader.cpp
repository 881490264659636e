// The strict JSON pull reader: tokens, string unescaping with UTF-8 checks, and the
// container walk with its depth cap.
#include "json_reader.hpp"

#include <cstdint>

namespace krelm {

namespace {

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

unsigned byte_value(char c) { return static_cast<unsigned char>(c); }

// Length of the well-formed UTF-8 sequence that starts at text[at] (a byte ≥ 0x80), or 0.
// Overlong forms, surrogates and code points above U+10FFFF are not well formed.
std::size_t utf8_sequence_length(std::string_view text, std::size_t at) {
  const unsigned lead = byte_value(text[at]);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (text.size() - at < length) {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned continuation = byte_value(text[at + i]);
    const unsigned lower_bound = i == 1 ? low : 0x80;
    const unsigned upper_bound = i == 1 ? high : 0xBF;
    if (continuation < lower_bound || continuation > upper_bound) {
      return 0;
    }
  }
  return length;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
  const auto byte = [](std::uint32_t value) { return static_cast<char>(value); };
  if (code_point < 0x80) {
    out += byte(code_point);
  } else if (code_point < 0x800) {
    out += byte(0xC0 | (code_point >> 6));
    out += byte(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += byte(0xE0 | (code_point >> 12));
    out += byte(0x80 | ((code_point >> 6) & 0x3F));
    out += byte(0x80 | (code_point & 0x3F));
  } else {
    out += byte(0xF0 | (code_point >> 18));
    out += byte(0x80 | ((code_point >> 12) & 0x3F));
    out += byte(0x80 | ((code_point >> 6) & 0x3F));
    out += byte(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

JsonError JsonReader::error_at_next(std::string detail) const {
  const std::size_t position = at_end() ? text_.size() : position_ + 1;
  return {std::move(detail), position};
}

void JsonReader::skip_whitespace() {
  while (!at_end() && is_json_whitespace(next_char())) {
    ++position_;
  }
}

JsonResult<JsonValueKind> JsonReader::peek_kind() {
  skip_whitespace();
  if (at_end()) {
    return std::unexpected(error_at_next("EOF while parsing a value"));
  }
  const char c = next_char();
  switch (c) {
    case '{':
      return JsonValueKind::Object;
    case '[':
      return JsonValueKind::Array;
    case '"':
      return JsonValueKind::String;
    case 't':
    case 'f':
      return JsonValueKind::Boolean;
    case 'n':
      return JsonValueKind::Null;
    default:
      if (c == '-' || is_digit(c)) {
        return JsonValueKind::Number;
      }
      return std::unexpected(error_at_next("expected value"));
  }
}

JsonResult<void> JsonReader::open_container(char bracket, bool is_object) {
  skip_whitespace();
  if (at_end() || next_char() != bracket) {
    return std::unexpected(error_at_next(std::string("expected `") + bracket + "`"));
  }
  if (depth_ == max_depth) {
    return std::unexpected(error_at_next("recursion limit exceeded"));
  }
  ++position_;
  ++depth_;
  first_in_container_[depth_] = true;
  container_is_object_[depth_] = is_object;
  return {};
}

JsonResult<void> JsonReader::begin_object() { return open_container('{', true); }

JsonResult<void> JsonReader::begin_array() { return open_container('[', false); }

JsonResult<std::optional<std::string>> JsonReader::next_key() {
  constexpr const char* eof_text = "EOF while parsing an object";
  skip_whitespace();
  if (at_end()) {
    return std::unexpected(error_at_next(eof_text));
  }
  if (next_char() == '}') {
    ++position_;
    --depth_;
    return std::optional<std::string>();
  }
  if (!first_in_container_[depth_]) {
    if (next_char() != ',') {
      return std::unexpected(error_at_next("expected `,` or `}`"));
    }
    ++position_;
    skip_whitespace();
    if (at_end()) {
      return std::unexpected(error_at_next(eof_text));
    }
    if (next_char() == '}') {
      return std::unexpected(error_at_next("trailing comma"));
    }
  }
  first_in_container_[depth_] = false;
  if (next_char() != '"') {
    return std::unexpected(error_at_next("key must be a string"));
  }
  auto key = read_string();
  if (!key) {
    return std::unexpected(std::move(key.error()));
  }
  skip_whitespace();
  if (at_end()) {
    return std::unexpected(error_at_next(eof_text));
  }
  if (next_char() != ':') {
    return std::unexpected(error_at_next("expected `:`"));
  }
  ++position_;
  return std::optional<std::string>(std::move(*key));
}

JsonResult<bool> JsonReader::has_next_element() {
  constexpr const char* eof_text = "EOF while parsing a list";
  skip_whitespace();
  if (at_end()) {
    return std::unexpected(error_at_next(eof_text));
  }
  if (next_char() == ']') {
    ++position_;
    --depth_;
    return false;
  }
  if (!first_in_container_[depth_]) {
    if (next_char() != ',') {
      return std::unexpected(error_at_next("expected `,` or `]`"));
    }
    ++position_;
    skip_whitespace();
    if (at_end()) {
      return std::unexpected(error_at_next(eof_text));
    }
    if (next_char() == ']') {
      return std::unexpected(error_at_next("trailing comma"));
    }
  }
  first_in_container_[depth_] = false;
  return true;
}

JsonResult<unsigned> JsonReader::read_hex4() {
  unsigned value = 0;
  for (int i = 0; i < 4; ++i) {
    if (at_end()) {
      return std::unexpected(error_at_next("EOF while parsing a string"));
    }
    const char c = next_char();
    unsigned digit = 0;
    if (is_digit(c)) {
      digit = byte_value(c) - byte_value('0');
    } else if (c >= 'a' && c <= 'f') {
      digit = byte_value(c) - byte_value('a') + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = byte_value(c) - byte_value('A') + 10;
    } else {
      return std::unexpected(error_at_next("invalid escape"));
    }
    value = value * 16 + digit;
    ++position_;
  }
  return value;
}

// Called with the backslash consumed.
JsonResult<void> JsonReader::read_escape_into(std::string& out) {
  if (at_end()) {
    return std::unexpected(error_at_next("EOF while parsing a string"));
  }
  const char c = next_char();
  ++position_;
  switch (c) {
    case '"':
    case '\\':
    case '/':
      out += c;
      return {};
    case 'b':
      out += '\b';
      return {};
    case 'f':
      out += '\f';
      return {};
    case 'n':
      out += '\n';
      return {};
    case 'r':
      out += '\r';
      return {};
    case 't':
      out += '\t';
      return {};
    case 'u':
      break;
    default:
      return std::unexpected(error_here("invalid escape"));
  }
  auto unit = read_hex4();
  if (!unit) {
    return std::unexpected(std::move(unit.error()));
  }
  if (*unit >= 0xDC00 && *unit <= 0xDFFF) {
    return std::unexpected(error_here("lone trailing surrogate in hex escape"));
  }
  if (*unit < 0xD800 || *unit > 0xDBFF) {
    append_utf8(out, *unit);
    return {};
  }
  // A leading surrogate is only meaningful with the trailing half right after it.
  if (text_.substr(position_, 2) != "\\u") {
    return std::unexpected(error_at_next("lone leading surrogate in hex escape"));
  }
  position_ += 2;
  auto trailing = read_hex4();
  if (!trailing) {
    return std::unexpected(std::move(trailing.error()));
  }
  if (*trailing < 0xDC00 || *trailing > 0xDFFF) {
    return std::unexpected(error_here("lone leading surrogate in hex escape"));
  }
  append_utf8(out, 0x10000 + ((*unit - 0xD800) << 10) + (*trailing - 0xDC00));
  return {};
}

JsonResult<std::string> JsonReader::read_string() {
  skip_whitespace();
  if (at_end() || next_char() != '"') {
    return std::unexpected(error_at_next("expected string"));
  }
  ++position_;
  std::string out;
  while (true) {
    if (at_end()) {
      return std::unexpected(error_at_next("EOF while parsing a string"));
    }
    const char c = next_char();
    if (c == '"') {
      ++position_;
      return out;
    }
    if (c == '\\') {
      ++position_;
      if (auto escaped = read_escape_into(out); !escaped) {
        return std::unexpected(std::move(escaped.error()));
      }
      continue;
    }
    if (byte_value(c) < 0x20) {
      return std::unexpected(
          error_at_next("control character (\\u0000-\\u001F) found while parsing a string"));
    }
    if (byte_value(c) < 0x80) {
      out += c;
      ++position_;
      continue;
    }
    const std::size_t length = utf8_sequence_length(text_, position_);
    if (length == 0) {
      return std::unexpected(error_at_next("invalid UTF-8 in string"));
    }
    out.append(text_.substr(position_, length));
    position_ += length;
  }
}

JsonResult<void> JsonReader::consume_digits() {
  if (at_end() || !is_digit(next_char())) {
    return std::unexpected(error_at_next("invalid number"));
  }
  while (!at_end() && is_digit(next_char())) {
    ++position_;
  }
  return {};
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
JsonResult<std::string_view> JsonReader::read_number() {
  skip_whitespace();
  const std::size_t start = position_;
  if (!at_end() && next_char() == '-') {
    ++position_;
  }
  if (!at_end() && next_char() == '0') {
    ++position_;
    if (!at_end() && is_digit(next_char())) {
      return std::unexpected(error_at_next("invalid number"));
    }
  } else if (auto digits = consume_digits(); !digits) {
    return std::unexpected(std::move(digits.error()));
  }
  if (!at_end() && next_char() == '.') {
    ++position_;
    if (auto digits = consume_digits(); !digits) {
      return std::unexpected(std::move(digits.error()));
    }
  }
  if (!at_end() && (next_char() == 'e' || next_char() == 'E')) {
    ++position_;
    if (!at_end() && (next_char() == '+' || next_char() == '-')) {
      ++position_;
    }
    if (auto digits = consume_digits(); !digits) {
      return std::unexpected(std::move(digits.error()));
    }
  }
  return text_.substr(start, position_ - start);
}

JsonResult<void> JsonReader::read_literal(std::string_view literal) {
  for (const char expected : literal) {
    if (at_end()) {
      return std::unexpected(error_at_next("EOF while parsing a value"));
    }
    if (next_char() != expected) {
      return std::unexpected(error_at_next("expected ident"));
    }
    ++position_;
  }
  return {};
}

JsonResult<bool> JsonReader::read_boolean() {
  skip_whitespace();
  if (!at_end() && next_char() == 't') {
    if (auto literal = read_literal("true"); !literal) {
      return std::unexpected(std::move(literal.error()));
    }
    return true;
  }
  if (auto literal = read_literal("false"); !literal) {
    return std::unexpected(std::move(literal.error()));
  }
  return false;
}

JsonResult<void> JsonReader::read_null() {
  skip_whitespace();
  return read_literal("null");
}

JsonResult<void> JsonReader::skip_value() {
  // Walks nested containers with the reader's own depth bookkeeping instead of recursion.
  const std::size_t base_depth = depth_;
  bool value_expected = true;
  while (true) {
    if (value_expected) {
      auto kind = peek_kind();
      if (!kind) {
        return std::unexpected(std::move(kind.error()));
      }
      JsonResult<void> step;
      switch (*kind) {
        case JsonValueKind::Object:
          step = begin_object();
          break;
        case JsonValueKind::Array:
          step = begin_array();
          break;
        case JsonValueKind::String:
          if (auto text = read_string(); !text) {
            step = std::unexpected(std::move(text.error()));
          }
          break;
        case JsonValueKind::Number:
          if (auto number = read_number(); !number) {
            step = std::unexpected(std::move(number.error()));
          }
          break;
        case JsonValueKind::Boolean:
          if (auto flag = read_boolean(); !flag) {
            step = std::unexpected(std::move(flag.error()));
          }
          break;
        case JsonValueKind::Null:
          step = read_null();
          break;
      }
      if (!step) {
        return step;
      }
    }
    if (depth_ == base_depth) {
      return {};
    }
    if (container_is_object_[depth_]) {
      auto key = next_key();
      if (!key) {
        return std::unexpected(std::move(key.error()));
      }
      value_expected = key->has_value();
    } else {
      auto more = has_next_element();
      if (!more) {
        return std::unexpected(std::move(more.error()));
      }
      value_expected = *more;
    }
  }
}

JsonResult<void> JsonReader::expect_end() {
  skip_whitespace();
  if (!at_end()) {
    return std::unexpected(error_at_next("trailing characters"));
  }
  return {};
}

}  // namespace krelm
