// Holds the Unicode tables and the UTF-8 coder to ICU, which the command used
// before them. Built only where ICU is installed.

#include "util/text.hpp"
#include "util/unicode_tables.hpp"
#include "util/utf8.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstring>
#include <numeric>
#include <span>
#include <string>
#include <vector>

namespace {

// ICU's encoding of `c`, that of U+FFFD where `c` has none.
std::string icu_utf8(UChar32 c) {
  uint8_t bytes[U8_MAX_LENGTH];
  int32_t length = 0;
  UBool error = false;
  U8_APPEND(bytes, length, U8_MAX_LENGTH, c, error);
  if (error) U8_APPEND(bytes, length, U8_MAX_LENGTH, 0xFFFD, error);
  return {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length)};
}

// True when ours and ICU decode `s` alike from its start and from its end:
// the same value and the same number of bytes taken.
bool decodes_as_icu(const uint8_t* s, int32_t n) {
  const auto same = [](char32_t ours, UChar32 icu) {
    return icu < 0 ? ours == text::utf8::kIllFormed : ours == static_cast<char32_t>(icu);
  };
  int32_t icu_i = 0;
  UChar32 icu_c = 0;
  U8_NEXT(s, icu_i, n, icu_c);
  const auto size = static_cast<std::size_t>(n);
  std::size_t i = 0;
  if (!same(text::utf8::decode(s, size, i), icu_c) || i != static_cast<std::size_t>(icu_i)) {
    return false;
  }
  U8_PREV(s, 0, n, icu_c);
  i = size;
  return same(text::utf8::decode_back(s, i), icu_c) && i == static_cast<std::size_t>(n);
}

TEST(UnicodeIcuTest, EveryCodePointAgrees) {
  // One past the last code point too, which both encode as U+FFFD.
  for (UChar32 c = 0; c <= 0x110000; ++c) {
    char ours[4];
    const std::string_view encoded(ours, text::utf8::encode(static_cast<char32_t>(c), ours));
    if (encoded != icu_utf8(c)) FAIL() << fmt::format("U+{:04X}: encoded unlike ICU", c);
  }
  // ICU leaves out the last part of the version, always 0 so far.
  if (text::unicode::version != U_UNICODE_VERSION ".0") {
    GTEST_SKIP() << "ICU knows Unicode " U_UNICODE_VERSION ", not " << text::unicode::version;
  }
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    const auto category = u_charType(c);
    const bool alphanumeric = u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
                              category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER ||
                              category == U_OTHER_NUMBER;
    const auto ours = static_cast<char32_t>(c);
    // Through fold_case, so that its ASCII shortcut is held to ICU too.
    if (text::is_white_space(ours) != u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) ||
        text::is_alphabetic_or_numeric(ours) != alphanumeric ||
        text::fold_case(icu_utf8(c)) != icu_utf8(u_foldCase(c, U_FOLD_CASE_DEFAULT))) {
      FAIL() << fmt::format("U+{:04X}: properties or case folding unlike ICU", c);
    }
  }
}

TEST(UnicodeIcuTest, EverySequenceUpToFourBytesDecodes) {
  uint8_t s[4];
  for (int32_t n = 1; n <= 3; ++n) {
    for (uint32_t v = 0; v >> (8 * n) == 0; ++v) {
      for (int32_t k = 0; k < n; ++k) s[k] = static_cast<uint8_t>(v >> (8 * (n - 1 - k)));
      if (!decodes_as_icu(s, n)) {
        FAIL() << fmt::format("{:02X}: decoded unlike ICU", fmt::join(std::span(s, n), " "));
      }
    }
  }
#ifdef BACKFILL_SANITIZED
  // Each class of byte at its edges: all 268M sequences take too long here.
  const std::vector<uint8_t> next = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1,
                                     0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
#else
  std::vector<uint8_t> next(256);
  std::iota(next.begin(), next.end(), 0);
#endif
  for (unsigned lead = 0xF0; lead <= 0xFF; ++lead) {
    for (const uint8_t b1 : next) {
      for (const uint8_t b2 : next) {
        for (const uint8_t b3 : next) {
          const uint8_t four[] = {static_cast<uint8_t>(lead), b1, b2, b3};
          if (!decodes_as_icu(four, 4)) {
            FAIL() << fmt::format("{:02X}: decoded unlike ICU", fmt::join(four, " "));
          }
        }
      }
    }
  }
}

}  // namespace
