#include "json/write.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace json {

void append_float32(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (value == 0.0f) {
    out += std::signbit(value) ? "-0.0" : "0.0";
    return;
  }

  // Scientific form gives the shortest round-trip digits and the exponent.
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view sci(buffer, static_cast<std::size_t>(end - buffer));
  if (sci.front() == '-') {
    out.push_back('-');
    sci.remove_prefix(1);
  }
  const std::size_t e_pos = sci.find('e');
  // At most nine significant digits: a float32 never needs more.
  char digit_buffer[16];
  std::size_t n_digits = 0;
  for (const char c : sci.substr(0, e_pos)) {
    if (c != '.') digit_buffer[n_digits++] = c;
  }
  const std::string_view digits(digit_buffer, n_digits);
  std::string_view exponent_text = sci.substr(e_pos + 1);
  const bool negative_exponent = exponent_text.front() == '-';
  if (exponent_text.front() == '-' || exponent_text.front() == '+') exponent_text.remove_prefix(1);
  int exponent = 0;
  std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);
  if (negative_exponent) exponent = -exponent;
  const int kk = exponent + 1;  // 10^(kk-1) <= |x| < 10^kk
  const int n = static_cast<int>(digits.size());

  if (n <= kk && kk <= 13) {
    out += digits;
    out.append(static_cast<std::size_t>(kk - n), '0');
    out += ".0";
  } else if (0 < kk && kk <= 13) {
    out += digits.substr(0, static_cast<std::size_t>(kk));
    out.push_back('.');
    out += digits.substr(static_cast<std::size_t>(kk));
  } else if (-6 < kk && kk <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-kk), '0');
    out += digits;
  } else {
    out.push_back(digits[0]);
    if (n > 1) {
      out.push_back('.');
      out += digits.substr(1);
    }
    fmt::format_to(std::back_inserter(out), "e{}", kk - 1);
  }
}

void append_json_string(std::string& out, std::string_view s) {
  out.push_back('"');
  // Runs that need no escaping, nearly all of a graph file, go in at once.
  std::size_t run = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s, run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        out += fmt::format("\\u{:04x}", c);
    }
  }
  out.append(s, run, s.size() - run);
  out.push_back('"');
}

void JsonWriter::newline_indent() {
  out_.push_back('\n');
  out_.append(2 * has_elements_.size(), ' ');
}

void JsonWriter::before_value() {
  // Between values the text so far is final: hand it on once it is large.
  constexpr std::size_t kFlushBytes = 1 << 20;
  if (sink_ != nullptr && out_.size() >= kFlushBytes) flush();
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (has_elements_.empty()) return;
  if (has_elements_.back()) out_.push_back(',');
  has_elements_.back() = true;
  if (style_ == JsonStyle::Pretty) newline_indent();
}

void JsonWriter::open(char bracket) {
  before_value();
  out_.push_back(bracket);
  has_elements_.push_back(false);
}

void JsonWriter::close(char bracket) {
  const bool had_elements = has_elements_.back();
  has_elements_.pop_back();
  if (had_elements && style_ == JsonStyle::Pretty) newline_indent();
  out_.push_back(bracket);
}

void JsonWriter::flush() {
  if (sink_ == nullptr || out_.empty()) return;
  sink_->put(out_);
  out_.clear();
}

JsonWriter& JsonWriter::begin_object() {
  open('{');
  return *this;
}
JsonWriter& JsonWriter::end_object() {
  close('}');
  return *this;
}
JsonWriter& JsonWriter::begin_array() {
  open('[');
  return *this;
}
JsonWriter& JsonWriter::end_array() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  append_json_string(out_, name);
  out_ += style_ == JsonStyle::Pretty ? ": " : ":";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view value) {
  before_value();
  append_json_string(out_, value);
  return *this;
}

JsonWriter& JsonWriter::uint(std::uint64_t value) {
  before_value();
  fmt::format_to(std::back_inserter(out_), "{}", value);
  return *this;
}

JsonWriter& JsonWriter::integer(std::int64_t value) {
  before_value();
  fmt::format_to(std::back_inserter(out_), "{}", value);
  return *this;
}

JsonWriter& JsonWriter::float32(float value) {
  before_value();
  append_float32(out_, value);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  before_value();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::member_strings(std::string_view name,
                                       const std::vector<std::string>& values) {
  key(name).begin_array();
  for (const auto& value : values) string(value);
  return end_array();
}

namespace {

void write_value(JsonWriter& writer, const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::object:
      writer.begin_object();
      for (const auto& [name, member] : value.items()) {
        writer.key(name);
        write_value(writer, member);
      }
      writer.end_object();
      break;
    case nlohmann::json::value_t::array:
      writer.begin_array();
      for (const auto& element : value) write_value(writer, element);
      writer.end_array();
      break;
    case nlohmann::json::value_t::string:
      writer.string(value.get_ref<const std::string&>());
      break;
    case nlohmann::json::value_t::boolean:
      writer.boolean(value.get<bool>());
      break;
    case nlohmann::json::value_t::number_unsigned:
      writer.uint(value.get<std::uint64_t>());
      break;
    case nlohmann::json::value_t::number_integer:
      writer.integer(value.get<std::int64_t>());
      break;
    case nlohmann::json::value_t::number_float:
      writer.float32(static_cast<float>(value.get<double>()));
      break;
    case nlohmann::json::value_t::null:
    case nlohmann::json::value_t::discarded:
    case nlohmann::json::value_t::binary:
      writer.null();
      break;
  }
}

}  // namespace

std::string to_json_text(const nlohmann::json& value, JsonStyle style) {
  JsonWriter writer(style);
  write_value(writer, value);
  return writer.take();
}

}  // namespace json
