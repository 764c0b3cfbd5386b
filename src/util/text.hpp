#pragma once

// Unicode-aware text helpers shared by every subsystem. All inputs are UTF-8;
// characters are Unicode scalar values, "white space" is the Unicode White_Space
// property. Bytes that do not decode are treated as ordinary non-space characters.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace text {

// True when `c` has the Unicode White_Space property.
bool is_white_space(char32_t c);

// True when `c` is Alphabetic or has general category Nd, Nl or No.
bool is_alphabetic_or_numeric(char32_t c);

// Decodes the character starting at byte `i` of `s` and advances `i` past it.
// An ill-formed sequence yields U+FFFD and skips its maximal ill-formed part.
char32_t next_char(std::string_view s, std::size_t& i);

// Appends the UTF-8 encoding of `c` to `out`.
void append_utf8(std::string& out, char32_t c);

// `s` with every character replaced by its Unicode simple case folding, the
// way a file system that ignores case tells two names apart: one character
// for one, so "Straße" and "STRASSE" stay different.
std::string fold_case(std::string_view s);

// `s` without leading and trailing white space.
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);

// `s` split at runs of white space, without empty pieces.
std::vector<std::string_view> split_white_space(std::string_view s);

// The first `n` characters of `s` (all of `s` when it is shorter).
std::string_view first_chars(std::string_view s, std::size_t n);

// True when `s` is well-formed UTF-8.
bool is_valid_utf8(std::string_view s);

// The length of `s` without a UTF-8 sequence that its end cuts short (what a
// later piece of the same text would complete).
std::size_t complete_utf8_length(std::string_view s);

// `s` with every ill-formed sequence replaced by U+FFFD.
std::string to_valid_utf8(std::string_view s);

// True when byte `i` of `s` starts a character (or is the end of `s`).
bool is_char_boundary(std::string_view s, std::size_t i);

// The lines of `s`: pieces ended by "\n" or by the end of the text, with a "\r"
// before the "\n" removed. A final "\n" does not start a further, empty line.
std::vector<std::string_view> lines(std::string_view s);

// Control characters
//
// U+0000 to U+001F other than tab, and U+007F: what breaks a line or steers a
// terminal. Each is one byte in UTF-8 and never part of a longer sequence.

constexpr bool is_control(char c) {
  return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7f';
}

// True when `s` holds a control character.
bool has_control(std::string_view s);

// Appends `s` with each control character written as "\u" and four lowercase
// hex digits, so that text from the user cannot start a line of its own.
void append_escaped_controls(std::string& out, std::string_view s);
std::string escape_controls(std::string_view s);

// ASCII digits
//
// Dates, times and numbers in file names and files are written with the bytes
// '0' to '9' only; a digit of another script is an ordinary character there.

// True when `c` is one of the bytes '0' to '9'.
constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// True when every byte of `s` is an ASCII digit (so also when `s` is empty).
bool all_ascii_digits(std::string_view s);

// The value of `s`, which must be all ASCII digits and at most nine of them.
int ascii_digits_value(std::string_view s);

// The value of `s` as ASCII digits after an optional leading "+", when there is
// at least one digit and the value is at most `max`; nothing otherwise.
std::optional<std::uint64_t> unsigned_decimal(std::string_view s, std::uint64_t max);

// Sorting

// `texts` in ascending byte order, each distinct text once.
template <typename Text>
std::vector<Text> sorted_unique(std::vector<Text> texts) {
  std::ranges::sort(texts);
  const auto [first, last] = std::ranges::unique(texts);
  texts.erase(first, last);
  return texts;
}

}  // namespace text
