// The compact JSON writer.
#include "json_writer.hpp"

#include "number_format.hpp"

namespace krelm {

void JsonWriter::separate_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!container_is_empty_.empty()) {
    if (!container_is_empty_.back()) {
      out_ += ',';
    }
    container_is_empty_.back() = false;
  }
}

void JsonWriter::begin_object() {
  separate_value();
  out_ += '{';
  container_is_empty_.push_back(true);
}

void JsonWriter::end_object() {
  out_ += '}';
  container_is_empty_.pop_back();
}

void JsonWriter::begin_array() {
  separate_value();
  out_ += '[';
  container_is_empty_.push_back(true);
}

void JsonWriter::end_array() {
  out_ += ']';
  container_is_empty_.pop_back();
}

void JsonWriter::key(std::string_view name) {
  separate_value();
  out_ += '"';
  out_ += name;
  out_ += "\":";
  after_key_ = true;
}

void JsonWriter::float_value(double value) {
  separate_value();
  append_json_float(out_, value);
}

void JsonWriter::unsigned_value(std::uint64_t value) {
  separate_value();
  out_ += std::to_string(value);
}

void JsonWriter::boolean_value(bool value) {
  separate_value();
  out_ += value ? "true" : "false";
}

void JsonWriter::plain_string_value(std::string_view text) {
  separate_value();
  out_ += '"';
  out_ += text;
  out_ += '"';
}

}  // namespace krelm
