#include "journal/entry.hpp"

#include <gtest/gtest.h>

using journal::JournalEntry;
using journal::parse_entry;

namespace {

JournalEntry parse(std::string_view text, std::string_view file_name = "2026-07-03-周报整理.md") {
  auto entry = parse_entry(text, "2026-07-03", file_name);
  EXPECT_TRUE(entry.has_value()) << text;
  return entry.value_or(JournalEntry{});
}

}  // namespace

TEST(ParseEntryTimeTest, OnlyAHeadingLineWithAFiveByteTime) {
  const auto entry = parse("## 07:05", "2026-07-01.md");
  EXPECT_EQ(entry.time, "07:05");
  EXPECT_EQ(entry.body, "");
  EXPECT_EQ(entry.title, "");
  EXPECT_FALSE(entry.goal);
  EXPECT_EQ(entry.date, "2026-07-03");
  EXPECT_EQ(entry.file_name, "2026-07-01.md");

  for (const char* text : {"## 7:05", "##07:05", "## 07:05 晨会", "# 07:05", "## 07-05\n"}) {
    EXPECT_FALSE(parse_entry(text, "d", "f.md")) << text;
  }
  EXPECT_EQ(parse("  ## 07:05").time, "07:05");
  EXPECT_EQ(parse("## \u300025:99 ").time, "25:99");  // only character classes are tested
}

TEST(ParseEntryBodyTest, RunsFromTheFirstHeadingToTheEnd) {
  const auto entry = parse("## 08:00\nfirst\n## 09:00\nsecond\n");
  EXPECT_EQ(entry.time, "08:00");
  EXPECT_EQ(entry.body, "first\n## 09:00\nsecond");
}

TEST(ParseEntryBodyTest, HeadingWithTwoSpacesGivesTimeButEmptyBody) {
  const auto entry = parse("##  07:05\nbody text\n");
  EXPECT_EQ(entry.time, "07:05");
  EXPECT_EQ(entry.body, "");
}

TEST(ParseEntryBodyTest, KeepsLinesVerbatimAndDropsOuterBlankLines) {
  const auto entry =
      parse("# T\n\n## 10:00\n\n  \n  two leading, one trailing \n   \nnext\n\n\n动2 专3\nafter\n");
  EXPECT_EQ(entry.body, "  two leading, one trailing \n\nnext");
}

TEST(ParseEntryBodyTest, StopLineIsLooserThanRatingLine) {
  // "动2专3" is no rating line but still ends the body; "动 2" does neither.
  EXPECT_EQ(parse("## 10:00\na\n动 2\nb\n动2专3\nc").body, "a\n动 2\nb");
  EXPECT_EQ(parse("## 10:00\na\n   反1 indented\nb").body, "a");
}

TEST(ParseEntryBodyTest, CrlfAndLfParseAlike) {
  const auto lf = parse("# 标题\n\n## 09:30\n正文\n\n第二段\n动2 → 学习\n");
  const auto crlf = parse("# 标题\r\n\r\n## 09:30\r\n正文\r\n\r\n第二段\r\n动2 → 学习\r\n");
  EXPECT_EQ(lf, crlf);
  EXPECT_EQ(lf.body, "正文\n\n第二段");
}

TEST(ParseEntryRatingTest, TokensAndGoal) {
  const auto entry = parse("## 10:00\n动2 专3 →  写作/周报 \n");
  EXPECT_EQ(entry.initiative, 2);
  EXPECT_EQ(entry.focus, 3);
  EXPECT_EQ(entry.persistence, 0);
  EXPECT_EQ(entry.affect, 0);
  EXPECT_EQ(entry.reflection, 0);
  EXPECT_EQ(entry.goal, "写作/周报");
}

TEST(ParseEntryRatingTest, LaterLabelWinsAndExtraArrowsBelongToTheGoal) {
  const auto entry = parse("## 10:00\n动1 动3 → a → b\n");
  EXPECT_EQ(entry.initiative, 3);
  EXPECT_EQ(entry.goal, "a → b");
  EXPECT_FALSE(parse("## 10:00\n动2 →   \n").goal);
}

TEST(ParseEntryRatingTest, RejectsMalformedLinesAndTakesTheFirstGoodOne) {
  const auto entry = parse(
      "## 10:00\n"
      "动2 专3 持1 情2 反3 动1\n"  // six tokens
      "动4\n动0\n动２\n"
      "→ 学习\n"  // no tokens at all
      "情1 → 第一\n"
      "反3 → 第二\n");
  EXPECT_EQ(entry.affect, 1);
  EXPECT_EQ(entry.reflection, 0);
  EXPECT_EQ(entry.goal, "第一");
}

TEST(ParseEntryRatingTest, RatingLineBeforeTheHeadingStillCounts) {
  const auto entry = parse("持2 → 早\n## 10:00\nbody\n");
  EXPECT_EQ(entry.persistence, 2);
  EXPECT_EQ(entry.goal, "早");
  EXPECT_EQ(entry.body, "body");
}

TEST(ParseEntryTitleTest, TitleLineOrFileNameFallback) {
  EXPECT_EQ(parse("\n  # 我的标题  \n## 10:00").title, "我的标题");
  EXPECT_EQ(parse("## 10:00").title, "周报整理");
  EXPECT_EQ(parse("# \n## 10:00").title, "周报整理");
  EXPECT_EQ(parse("## 10:00", "2026-07-03.md").title, "");
  EXPECT_EQ(parse("## 10:00", "notes-about-it.md").title, "");  // one hyphen in 11 bytes
  EXPECT_EQ(parse("## 10:00", "2026-07-03-x.txt").title, "x.txt");
  // Byte 11 inside a multi-byte character: no title, and no failure.
  EXPECT_EQ(parse("## 10:00", "2026-07-1中文.md").title, "");
}

TEST(TitleFromFileNameTest, NeedsMdAndMoreThanFourteenBytes) {
  EXPECT_EQ(journal::title_from_file_name("2026-07-05-abc.md"), "abc");
  EXPECT_FALSE(journal::title_from_file_name("2026-07-03.md"));
  EXPECT_FALSE(journal::title_from_file_name("2026-07-0x.md"));
  EXPECT_FALSE(journal::title_from_file_name("2026-07-05-abc.txt"));
  EXPECT_FALSE(journal::title_from_file_name("2026-07-1中文.md"));
}

TEST(DisplayTitleTest, FileNameTitleElseOwnTitle) {
  JournalEntry entry;
  entry.title = "own";
  entry.file_name = "2026-07-05-1中.md";
  EXPECT_EQ(journal::display_title(entry), "1中");
  // A name whose cut would split a character is shown by the entry's own title.
  entry.file_name = "2026-07-1中.md";
  EXPECT_EQ(journal::display_title(entry), "own");
}

TEST(ShortTextTest, HoldsUpToItsPlaceAndRefusesMoreRatherThanCutting) {
  text::ShortText<5> t("09:30");
  EXPECT_EQ(t, "09:30");
  EXPECT_LT(text::ShortText<5>("09:05"), t);
  EXPECT_EQ(fmt::format("[{}]", t), "[09:30]");
  EXPECT_THROW(text::ShortText<5>("09:300"), std::length_error);
}
