// Text surgery on compact JSON bodies for the persistence tests: frames around a body,
// top-level members of an object, and whole-value extents. Works on bodies whose strings
// hold no brackets, commas or quotes, as every body written by serialize_fit does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krelm::testing {

// The 17-byte header (magic, version, length) followed by `body`.
inline std::string frame_around(std::string_view body, std::uint32_t version = 1) {
  std::string frame = "KRELM";
  for (int i = 0; i < 4; ++i) {
    frame += static_cast<char>((version >> (8 * i)) & 0xFFU);
  }
  const std::uint64_t length = body.size();
  for (int i = 0; i < 8; ++i) {
    frame += static_cast<char>((length >> (8 * i)) & 0xFFU);
  }
  frame += body;
  return frame;
}

// Index one past the end of the value that starts at `start` (or the text's end).
inline std::size_t value_end(std::string_view text, std::size_t start) {
  if (start >= text.size()) {
    return text.size();
  }
  if (text[start] == '"') {
    const std::size_t close = text.find('"', start + 1);
    return close == std::string_view::npos ? text.size() : close + 1;
  }
  int depth = 0;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) {
        return i;
      }
      if (--depth == 0) {
        return i + 1;
      }
    } else if (c == ',' && depth == 0) {
      return i;
    }
  }
  return text.size();
}

// The top-level "key":value members of a compact object, in order.
inline std::vector<std::string> object_members(std::string_view object) {
  std::vector<std::string> members;
  std::size_t at = 1;
  while (at < object.size() && object[at] == '"') {
    const std::size_t colon = object.find(':', at);
    const std::size_t end = value_end(object, colon + 1);
    members.emplace_back(object.substr(at, end - at));
    at = end + 1;
  }
  return members;
}

inline std::string join(const std::vector<std::string>& parts, char open, char close) {
  std::string text(1, open);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    text += (i == 0 ? "" : ",") + parts[i];
  }
  return text + close;
}

// The value of member "key":value.
inline std::string member_value(const std::string& member) {
  return member.substr(member.find(':') + 1);
}

inline std::string replace_once(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace krelm::testing
