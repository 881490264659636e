// Header writing and reading, and the order of the checks that turn bytes into a record.
#include "frame.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <utility>

#include "record_consistency.hpp"
#include "record_reader.hpp"
#include "record_writer.hpp"

namespace krelm {

namespace {

constexpr std::string_view frame_magic = "KRELM";
constexpr std::size_t version_offset = 5;
constexpr std::size_t length_offset = 9;
constexpr std::string_view deserialize_context = "FittedGam::deserialize: ";

// Little-endian whatever the host, one byte at a time.
void append_little_endian(std::string& out, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) {
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

std::uint64_t read_little_endian(std::string_view bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
  }
  return value;
}

std::string byte_list_text(std::string_view bytes) {
  std::string text = "[";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(static_cast<unsigned char>(bytes[i]));
  }
  return text + "]";
}

std::unexpected<KrelmError> deserialize_failure(std::string problem) {
  return std::unexpected(invalid_parameter(std::string(deserialize_context) + problem));
}

// "at byte {pos}: {detail} at line {line} column {column}". The reported byte is the column
// of the failure, which is its byte count when the body is one line (as written).
std::string json_failure_text(std::string_view body, const JsonError& error) {
  const std::size_t position = std::min(error.position, body.size());
  // The failing byte is the last one counted; lines are those begun before it.
  const std::size_t before_failure = position == 0 ? 0 : position - 1;
  const std::string_view preceding = body.substr(0, before_failure);
  const auto line = static_cast<std::size_t>(std::ranges::count(preceding, '\n')) + 1;
  const std::size_t last_newline = preceding.rfind('\n');
  const std::size_t column =
      last_newline == std::string_view::npos ? position : position - last_newline - 1;
  return "JSON decode failed at byte " + std::to_string(column) + ": " + error.detail +
         " at line " + std::to_string(line) + " column " + std::to_string(column);
}

// The body of a frame, after the header checks in their fixed order.
Expected<std::string_view> frame_body(std::string_view bytes) {
  if (bytes.size() < frame_header_bytes) {
    return deserialize_failure("buffer too short (" + std::to_string(bytes.size()) + " < " +
                               std::to_string(frame_header_bytes) + " header bytes)");
  }
  if (bytes.substr(0, frame_magic.size()) != frame_magic) {
    return deserialize_failure("bad magic; expected " + byte_list_text(frame_magic) + ", got " +
                               byte_list_text(bytes.substr(0, frame_magic.size())));
  }
  const std::uint64_t version = read_little_endian(bytes, version_offset, 4);
  if (version != frame_format_version) {
    return deserialize_failure(
        "unsupported format_version=" + std::to_string(version) + " (this build expects " +
        std::to_string(frame_format_version) +
        "). Re-serialize with a matching krelm release, or roll a migration.");
  }
  const std::uint64_t body_length = read_little_endian(bytes, length_offset, 8);
  if (body_length > std::numeric_limits<std::uint64_t>::max() - frame_header_bytes) {
    return deserialize_failure("length overflow");
  }
  const std::size_t available = bytes.size() - frame_header_bytes;
  if (available < body_length) {
    return deserialize_failure("truncated body (have " + std::to_string(available) +
                               " bytes, header says " + std::to_string(body_length) +
                               " payload bytes follow the " + std::to_string(frame_header_bytes) +
                               "-byte header)");
  }
  return bytes.substr(frame_header_bytes, static_cast<std::size_t>(body_length));
}

}  // namespace

Expected<std::string> serialize_fit(const FittedGam& fit) {
  const std::string body = encode_record_body(fit);
  std::string frame;
  frame.reserve(frame_header_bytes + body.size());
  frame += frame_magic;
  append_little_endian(frame, frame_format_version, 4);
  append_little_endian(frame, body.size(), 8);
  frame += body;
  return frame;
}

Expected<FittedGam> deserialize_fit(std::string_view bytes) {
  auto body = frame_body(bytes);
  if (!body) {
    return std::unexpected(std::move(body.error()));
  }
  auto fit = decode_record_body(*body);
  if (!fit) {
    return deserialize_failure(json_failure_text(*body, fit.error()));
  }
  if (auto consistent = check_record_consistency(*fit); !consistent) {
    return std::unexpected(std::move(consistent.error()));
  }
  return *std::move(fit);
}

}  // namespace krelm
