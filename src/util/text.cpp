#include "util/text.hpp"

#include "util/unicode_tables.hpp"
#include "util/utf8.hpp"

#include <algorithm>

namespace text {

namespace {

const unsigned char* bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

bool is_white_space(char32_t c) {
  // The ASCII members of the property, without a search per character.
  if (c < 0x80) return c == U' ' || (c >= U'\t' && c <= U'\r');
  return unicode::in_ranges(unicode::white_space, c);
}

bool is_alphabetic_or_numeric(char32_t c) {
  if (c < 0x80) {
    return (c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z');
  }
  return unicode::in_ranges(unicode::alphabetic_or_numeric, c);
}

char32_t next_char(std::string_view s, std::size_t& i) {
  const char32_t c = utf8::decode(bytes(s), s.size(), i);
  return c == utf8::kIllFormed ? U'\uFFFD' : c;
}

void append_utf8(std::string& out, char32_t c) {
  char buffer[4];
  out.append(buffer, utf8::encode(c, buffer));
}

std::string fold_case(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const char byte = s[i];
    if (static_cast<unsigned char>(byte) < 0x80) {
      out += byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + ('a' - 'A')) : byte;
      ++i;
      continue;
    }
    append_utf8(out, unicode::simple_fold(next_char(s, i)));
  }
  return out;
}

std::string_view trim_start(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t next = i;
    const char32_t c = next_char(s, next);
    // A replacement produced by a broken sequence is not white space.
    if (!is_white_space(c)) break;
    i = next;
  }
  return s.substr(i);
}

std::string_view trim_end(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    std::size_t start = end;
    const char32_t c = utf8::decode_back(bytes(s), start);
    if (c == utf8::kIllFormed || !is_white_space(c)) break;
    end = start;
  }
  return s.substr(0, end);
}

std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

std::vector<std::string_view> split_white_space(std::string_view s) {
  std::vector<std::string_view> pieces;
  std::size_t i = 0;
  std::size_t start = std::string_view::npos;
  while (i < s.size()) {
    const std::size_t here = i;
    const char32_t c = next_char(s, i);
    if (is_white_space(c)) {
      if (start != std::string_view::npos) {
        pieces.push_back(s.substr(start, here - start));
        start = std::string_view::npos;
      }
    } else if (start == std::string_view::npos) {
      start = here;
    }
  }
  if (start != std::string_view::npos) pieces.push_back(s.substr(start));
  return pieces;
}

std::string_view first_chars(std::string_view s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t taken = 0; taken < n && i < s.size(); ++taken) next_char(s, i);
  return s.substr(0, i);
}

std::size_t complete_utf8_length(std::string_view s) {
  // A sequence is at most four bytes: its lead byte is among the last four.
  for (std::size_t back = 1; back <= 4 && back <= s.size(); ++back) {
    const auto byte = static_cast<unsigned char>(s[s.size() - back]);
    if (utf8::is_trail(byte)) continue;
    const std::size_t length = utf8::sequence_length(byte);
    return length > back ? s.size() - back : s.size();
  }
  return s.size();
}

bool is_valid_utf8(std::string_view s) {
  const auto* data = bytes(s);
  for (std::size_t i = 0; i < s.size();) {
    if (data[i] < 0x80) {
      ++i;
      continue;
    }
    if (utf8::decode(data, s.size(), i) == utf8::kIllFormed) return false;
  }
  return true;
}

std::string to_valid_utf8(std::string_view s) {
  if (is_valid_utf8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (std::size_t i = 0; i < s.size();) append_utf8(out, next_char(s, i));
  return out;
}

bool is_char_boundary(std::string_view s, std::size_t i) {
  if (i == 0 || i >= s.size()) return i <= s.size();
  return (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
}

std::vector<std::string_view> lines(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start < s.size()) {
    const std::size_t newline = s.find('\n', start);
    std::size_t end = newline == std::string_view::npos ? s.size() : newline;
    std::string_view line = s.substr(start, end - start);
    if (newline != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    out.push_back(line);
    if (newline == std::string_view::npos) break;
    start = newline + 1;
  }
  return out;
}

bool all_ascii_digits(std::string_view s) { return std::ranges::all_of(s, is_ascii_digit); }

int ascii_digits_value(std::string_view s) {
  int value = 0;
  for (const char c : s) value = value * 10 + (c - '0');
  return value;
}

std::optional<std::uint64_t> unsigned_decimal(std::string_view s, std::uint64_t max) {
  if (s.starts_with('+')) s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : s) {
    if (!is_ascii_digit(c)) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    // Compared without computing the larger value, which could wrap around
    // for a `max` near the type's limit.
    if (value > max / 10 || digit > max - value * 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

bool has_control(std::string_view s) { return std::ranges::any_of(s, is_control); }

void append_escaped_controls(std::string& out, std::string_view s) {
  constexpr std::string_view kHex = "0123456789abcdef";
  // Runs without a control character, nearly all text, go in whole.
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (!is_control(s[i])) continue;
    out.append(s.substr(start, i - start));
    const auto byte = static_cast<unsigned char>(s[i]);
    out += "\\u00";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
    start = i + 1;
  }
  out.append(s.substr(start));
}

std::string escape_controls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  append_escaped_controls(out, s);
  return out;
}

}  // namespace text
