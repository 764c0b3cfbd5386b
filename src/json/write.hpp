#pragma once

// The JSON text forms every writer uses: the pretty form of the derived files
// and the compact form embedded in reports. nlohmann/json parses; this layer
// writes, because the files must match byte for byte (32-bit float digits,
// "{}" and "[]" for empty containers, no final newline).

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "files/file_system.hpp"

namespace json {

// Appends the shortest decimal text that reads back to the same 32-bit float,
// with ".0" on whole numbers and exponent form outside 1e-6..1e13; "null" when
// not finite.
void append_float32(std::string& out, float value);

// Appends `s` as a JSON string literal: only '"', '\\' and control characters
// below U+0020 are escaped; everything else is written as it is.
void append_json_string(std::string& out, std::string_view s);

enum class JsonStyle { Pretty, Compact };

// Streams one JSON value into a text buffer. Calls must nest properly: inside
// an object every value is preceded by key().
class JsonWriter {
 public:
  explicit JsonWriter(JsonStyle style = JsonStyle::Pretty) : style_(style) {}
  // Hands the text to `sink` in pieces as it grows, instead of keeping it
  // whole; flush() hands on the rest at the end.
  JsonWriter(JsonStyle style, files::ByteSink& sink) : style_(style), sink_(&sink) {}

  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);

  JsonWriter& string(std::string_view value);
  JsonWriter& uint(std::uint64_t value);
  JsonWriter& integer(std::int64_t value);
  JsonWriter& float32(float value);
  JsonWriter& boolean(bool value);
  JsonWriter& null();

  // key() followed by the value, for the common case.
  JsonWriter& member(std::string_view name, std::string_view value) {
    return key(name).string(value);
  }
  JsonWriter& member(std::string_view name, const char* value) { return key(name).string(value); }
  JsonWriter& member_uint(std::string_view name, std::uint64_t value) {
    return key(name).uint(value);
  }
  JsonWriter& member_float(std::string_view name, float value) { return key(name).float32(value); }
  JsonWriter& member_bool(std::string_view name, bool value) { return key(name).boolean(value); }
  JsonWriter& member_strings(std::string_view name, const std::vector<std::string>& values);

  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }
  // Hands the text not yet handed on to the sink.
  void flush();
  // True when the sink wants no more of the text.
  bool sink_full() const { return sink_ != nullptr && sink_->full(); }

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);
  void newline_indent();

  JsonStyle style_;
  files::ByteSink* sink_ = nullptr;
  std::string out_;
  // One flag per open container: whether it has received an element yet.
  std::vector<bool> has_elements_;
  bool after_key_ = false;
};

// Writes a parsed JSON value (objects in their stored order, numbers that are
// floats as 32-bit floats) in the given style.
std::string to_json_text(const nlohmann::json& value, JsonStyle style = JsonStyle::Pretty);

}  // namespace json
