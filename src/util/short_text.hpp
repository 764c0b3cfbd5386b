#pragma once

// Text of at most N bytes held in place. A run holds the date and the time of
// every record, hundreds of thousands of each: as strings they would cost 32
// bytes apiece, as ShortText<15> and ShortText<7> they cost 16 and 8.

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace text {

template <std::size_t N>
class ShortText {
  static_assert(N < 256);

 public:
  ShortText() = default;
  // Longer text is a caller's fault: it is refused, never cut.
  ShortText(std::string_view s) { assign(s); }  // NOLINT: stands in for a string
  ShortText(const char* s) : ShortText(std::string_view(s)) {}
  ShortText(const std::string& s) : ShortText(std::string_view(s)) {}

  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view substr(std::size_t pos, std::size_t n = std::string_view::npos) const {
    return view().substr(pos, n);
  }
  bool starts_with(std::string_view prefix) const { return view().starts_with(prefix); }
  char operator[](std::size_t i) const { return data_[i]; }

  friend bool operator==(const ShortText& a, const ShortText& b) { return a.view() == b.view(); }
  friend std::strong_ordering operator<=>(const ShortText& a, const ShortText& b) {
    return a.view() <=> b.view();
  }
  friend bool operator==(const ShortText& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const ShortText& a, const char* b) { return a.view() == b; }
  friend bool operator==(const ShortText& a, const std::string& b) { return a.view() == b; }
  friend std::string operator+(const ShortText& a, std::string_view b) { return a.str().append(b); }

 private:
  void assign(std::string_view s) {
    if (s.size() > N) throw std::length_error("text longer than its place: " + std::string(s));
    std::copy(s.begin(), s.end(), data_);
    size_ = static_cast<std::uint8_t>(s.size());
  }

  char data_[N] = {};
  std::uint8_t size_ = 0;
};

template <std::size_t N>
std::ostream& operator<<(std::ostream& out, const ShortText<N>& t) {
  return out << t.view();
}

}  // namespace text

template <std::size_t N>
struct fmt::formatter<text::ShortText<N>> : fmt::formatter<std::string_view> {
  auto format(const text::ShortText<N>& t, format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(t.view(), ctx);
  }
};
