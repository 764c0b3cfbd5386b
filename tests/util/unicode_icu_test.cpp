// Holds the generated Unicode tables and the UTF-8 coder to ICU, which the
// command used before them: every code point, every byte sequence of up to
// three bytes and every four-byte sequence that starts with 0xF0 to 0xFF.
// Built only where ICU is installed.

#include "util/text.hpp"
#include "util/unicode_tables.hpp"
#include "util/utf8.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unicode/uversion.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using text::utf8::kIllFormed;

// Reports no more than this many differences per test.
constexpr int kMaxReported = 10;

char32_t from_icu(UChar32 c) { return c < 0 ? kIllFormed : static_cast<char32_t>(c); }

std::string hex(const uint8_t* s, int32_t n) {
  std::string out;
  for (int32_t k = 0; k < n; ++k) out += fmt::format("{}{:02X}", k == 0 ? "" : " ", s[k]);
  return out;
}

// True when ours and ICU decode `s` alike from its start and from its end:
// the same value and the same number of bytes taken.
bool same_decoding(const uint8_t* s, int32_t n) {
  int32_t icu_i = 0;
  UChar32 icu_c = 0;
  U8_NEXT(s, icu_i, n, icu_c);
  std::size_t i = 0;
  if (text::utf8::decode(s, static_cast<std::size_t>(n), i) != from_icu(icu_c) ||
      i != static_cast<std::size_t>(icu_i)) {
    return false;
  }
  icu_i = n;
  U8_PREV(s, 0, icu_i, icu_c);
  i = static_cast<std::size_t>(n);
  return text::utf8::decode_back(s, i) == from_icu(icu_c) && i == static_cast<std::size_t>(icu_i);
}

TEST(UnicodeIcuTest, PropertiesAndFoldingAgreeOnEveryCodePoint) {
  UVersionInfo icu_version;
  UVersionInfo table_version;
  u_getUnicodeVersion(icu_version);
  u_versionFromString(table_version, std::string(text::unicode::version).c_str());
  if (std::memcmp(icu_version, table_version, sizeof icu_version) != 0) {
    GTEST_SKIP() << "ICU knows Unicode " U_UNICODE_VERSION ", the tables "
                 << text::unicode::version;
  }
  int reported = 0;
  for (UChar32 c = 0; c <= 0x10FFFF && reported < kMaxReported; ++c) {
    const auto category = u_charType(c);
    const bool alphanumeric = u_hasBinaryProperty(c, UCHAR_ALPHABETIC) ||
                              category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER ||
                              category == U_OTHER_NUMBER;
    // Through fold_case, so that its ASCII shortcut is held to ICU too; a
    // surrogate has no encoding of its own.
    std::string folded;
    if (!U_IS_SURROGATE(c)) {
      uint8_t bytes[U8_MAX_LENGTH];
      int32_t length = 0;
      [[maybe_unused]] UBool error = false;  // never set: `c` is no surrogate
      U8_APPEND(bytes, length, U8_MAX_LENGTH, c, error);
      folded = text::fold_case({reinterpret_cast<const char*>(bytes), std::size_t(length)});
      length = 0;
      U8_APPEND(bytes, length, U8_MAX_LENGTH, u_foldCase(c, U_FOLD_CASE_DEFAULT), error);
      if (folded != std::string_view(reinterpret_cast<const char*>(bytes), std::size_t(length))) {
        ADD_FAILURE() << fmt::format("U+{:04X}: folds differently from ICU", c);
        ++reported;
      }
    }
    const auto cp = static_cast<char32_t>(c);
    if (text::is_white_space(cp) != u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) ||
        text::is_alphabetic_or_numeric(cp) != alphanumeric) {
      ADD_FAILURE() << fmt::format("U+{:04X}: properties differ from ICU", c);
      ++reported;
    }
  }
}

TEST(UnicodeIcuTest, DecodersAgreeOnEverySequenceUpToFourBytes) {
  int reported = 0;
  const auto check = [&](const uint8_t* s, int32_t n) {
    if (same_decoding(s, n)) return true;
    ADD_FAILURE() << "decoded differently from ICU: " << hex(s, n);
    return ++reported < kMaxReported;
  };
  uint8_t s[4];
  for (int32_t n = 1; n <= 3; ++n) {
    for (uint32_t v = 0; v < 1u << (8 * n); ++v) {
      for (int32_t k = 0; k < n; ++k) s[k] = static_cast<uint8_t>(v >> (8 * (n - 1 - k)));
      if (!check(s, n)) return;
    }
  }
#ifdef BACKFILL_SANITIZED
  // Every class of byte at its edges: all 268M sequences take too long under
  // the sanitizers for CI.
  constexpr std::array<uint8_t, 20> kNext = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                             0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1,
                                             0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
#else
  std::array<uint8_t, 256> kNext{};
  for (std::size_t b = 0; b < kNext.size(); ++b) kNext[b] = static_cast<uint8_t>(b);
#endif
  for (unsigned lead = 0xF0; lead <= 0xFF; ++lead) {
    s[0] = static_cast<uint8_t>(lead);
    for (const uint8_t b1 : kNext) {
      s[1] = b1;
      for (const uint8_t b2 : kNext) {
        s[2] = b2;
        for (const uint8_t b3 : kNext) {
          s[3] = b3;
          if (!check(s, 4)) return;
        }
      }
    }
  }
}

TEST(UnicodeIcuTest, EncoderAgreesOnEveryCodePoint) {
  int reported = 0;
  // One past the last code point too, which both write as U+FFFD.
  for (UChar32 c = 0; c <= 0x110000 && reported < kMaxReported; ++c) {
    uint8_t expected[U8_MAX_LENGTH];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(expected, length, U8_MAX_LENGTH, c, error);
    if (error) U8_APPEND(expected, length, U8_MAX_LENGTH, 0xFFFD, error);
    char actual[4];
    const std::size_t written = text::utf8::encode(static_cast<char32_t>(c), actual);
    if (written != std::size_t(length) || std::memcmp(actual, expected, written) != 0) {
      ADD_FAILURE() << fmt::format("U+{:04X}: encoded differently from ICU", c);
      ++reported;
    }
  }
}

}  // namespace
