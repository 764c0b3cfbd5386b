#include "util/text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using text::first_chars;
using text::split_white_space;
using text::trim;

TEST(TextTest, TrimRemovesUnicodeWhiteSpaceOnly) {
  EXPECT_EQ(trim("\u3000 a b\t\u00A0"), "a b");
  EXPECT_EQ(trim("\u2028x\u205F"), "x");
  // Zero-width space is not White_Space and stays.
  EXPECT_EQ(trim("\u200Bx"), "\u200Bx");
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(trim(""), "");
}

TEST(TextTest, SplitsAtRunsOfWhiteSpace) {
  const auto pieces = split_white_space("  动2\u3000\u3000专3 \t持1 ");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], "动2");
  EXPECT_EQ(pieces[1], "专3");
  EXPECT_EQ(pieces[2], "持1");
  EXPECT_TRUE(split_white_space(" \n ").empty());
}

TEST(TextTest, CutsByCharacter) {
  EXPECT_EQ(first_chars("项目A工作", 2), "项目");
  EXPECT_EQ(first_chars("ab", 5), "ab");
}

TEST(TextTest, ValidatesAndRepairsUtf8) {
  EXPECT_TRUE(text::is_valid_utf8("中文 ok"));
  EXPECT_FALSE(text::is_valid_utf8("a\xFF"));
  EXPECT_FALSE(text::is_valid_utf8("\xE4\xB8"));      // truncated sequence
  EXPECT_FALSE(text::is_valid_utf8("\xED\xA0\x80"));  // surrogate
  EXPECT_EQ(text::to_valid_utf8("a\xFF"
                                "b"),
            "a\uFFFD"
            "b");
}

TEST(TextTest, SplitsLinesLikeTheEntryFormat) {
  const auto lf = text::lines("a\nb\n");
  ASSERT_EQ(lf.size(), 2u);
  const auto crlf = text::lines("a\r\nb\r\n\r\nc");
  ASSERT_EQ(crlf.size(), 4u);
  EXPECT_EQ(crlf[1], "b");
  EXPECT_EQ(crlf[2], "");
  EXPECT_EQ(crlf[3], "c");
  EXPECT_TRUE(text::lines("").empty());
}

TEST(TextTest, CharacterBoundaries) {
  const std::string_view s = "2026-07-1中.md";
  EXPECT_TRUE(text::is_char_boundary(s, 9));
  EXPECT_FALSE(text::is_char_boundary(s, 10));
  EXPECT_FALSE(text::is_char_boundary(s, 11));
  EXPECT_TRUE(text::is_char_boundary(s, s.size()));
}

TEST(AsciiDigitsTest, UnsignedDecimalTakesOnePlusAndStopsAtItsLimit) {
  EXPECT_EQ(text::unsigned_decimal("+007", 255), 7u);
  EXPECT_EQ(text::unsigned_decimal("255", 255), 255u);
  EXPECT_FALSE(text::unsigned_decimal("256", 255));
  EXPECT_FALSE(text::unsigned_decimal("9", 5));
  EXPECT_FALSE(text::unsigned_decimal("+", 255));
  EXPECT_FALSE(text::unsigned_decimal("", 255));
  EXPECT_FALSE(text::unsigned_decimal("++1", 255));
  EXPECT_FALSE(text::unsigned_decimal("-1", 255));
  EXPECT_FALSE(text::unsigned_decimal("1 ", 255));
  // A full-width digit is no ASCII digit.
  EXPECT_FALSE(text::unsigned_decimal("\uFF11", 255));
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  EXPECT_EQ(text::unsigned_decimal("18446744073709551615", kMax), kMax);
  EXPECT_FALSE(text::unsigned_decimal("18446744073709551616", kMax));
  EXPECT_FALSE(text::unsigned_decimal("99999999999999999999", kMax));
}
