// A compact JSON writer: no whitespace, separators placed by the writer, numbers in the
// persisted float format. What is written, and in which order, is the caller's business.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace krelm {

/// Appends one JSON document to an internal buffer. Every value is preceded by "," when it
/// is not the first in its container; a key is followed directly by its value.
class JsonWriter {
 public:
  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  /// Writes "key": (the key must not need escaping; ours are ASCII names).
  void key(std::string_view name);
  void float_value(double value);
  void unsigned_value(std::uint64_t value);
  void boolean_value(bool value);
  /// Writes a string that needs no escaping (tags and names).
  void plain_string_value(std::string_view text);

  /// The finished document; the writer is empty afterwards.
  [[nodiscard]] std::string take() { return std::move(out_); }

 private:
  void separate_value();

  std::string out_;
  // Per open container: whether it holds no value yet.
  std::vector<bool> container_is_empty_;
  bool after_key_ = false;
};

}  // namespace krelm
