#pragma once

// What the fuzz targets share: cutting the input into pieces, reading typed
// values from it, and failing a property check loudly.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "util/text.hpp"

namespace fuzz {

// The input as text.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// `text` cut at every `separator`; a text without one is a single piece.
inline std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const std::size_t cut = text.find(separator);
    pieces.push_back(text.substr(0, cut));
    if (cut == std::string_view::npos) return pieces;
    text.remove_prefix(cut + 1);
  }
}

// Ends the run with `what` on stderr; libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

inline void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

// Reads fixed-size values from the front of the input; past its end every value
// is zero and every text empty, so any input builds some value.
class Bytes {
 public:
  explicit Bytes(std::string_view data) : data_(data) {}

  std::uint8_t u8() {
    if (data_.empty()) return 0;
    const auto value = static_cast<std::uint8_t>(data_.front());
    data_.remove_prefix(1);
    return value;
  }

  template <typename T>
  T raw() {
    T value{};
    unsigned char buffer[sizeof(T)] = {};
    const std::size_t n = std::min(sizeof(T), data_.size());
    std::memcpy(buffer, data_.data(), n);
    data_.remove_prefix(n);
    std::memcpy(&value, buffer, sizeof(T));
    return value;
  }

  // A text of up to 255 bytes, made valid UTF-8, as every text in the state
  // files is (the loaders refuse anything else).
  std::string text() {
    const std::size_t n = std::min<std::size_t>(u8(), data_.size());
    const auto bytes = data_.substr(0, n);
    data_.remove_prefix(n);
    return text::to_valid_utf8(bytes);
  }

  bool empty() const { return data_.empty(); }

 private:
  std::string_view data_;
};

}  // namespace fuzz
