#include "goals/goal_file.hpp"

#include <gtest/gtest.h>

#include <random>

#include "goals/goal_text.hpp"
#include "support/goal_reference.hpp"

using goals::GoalEntry;
using goals::GoalSection;
using goals::parse_goal_file;
using testing_support::insert_entry_line;

TEST(GoalEntryLineTest, DisplayNameAndRatingTags) {
  const auto line = [](std::string file_name, std::uint8_t focus = 0) {
    journal::JournalEntry e;
    e.date = "2026-07-03";
    e.title = "标题";
    e.file_name = std::move(file_name);
    e.focus = focus;
    e.reflection = focus;
    return goals::entry_line(e);
  };
  EXPECT_EQ(line("2026-07-03-周报整理.md", 3), "- 2026-07-03 周报整理 专3 反3");
  // Unrated entries keep the separating space; short names fall back to the title.
  EXPECT_EQ(line("abcdefghijkXYZ.md"), "- 2026-07-03 XYZ ");
  EXPECT_EQ(line("2026-07-03.md"), "- 2026-07-03 标题 ");
  // Byte 11 inside a character: the title, never a broken name.
  EXPECT_EQ(line("2026-07-0周报整理.md"), "- 2026-07-03 标题 ");
}

TEST(GoalFileParseTest, ProgressLines) {
  const auto fresh = parse_goal_file("学习", goals::new_goal_text("学习"));
  EXPECT_EQ(fresh, (goals::GoalFile{"学习", "—", {}, 0}));

  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"> 45%% | 进行中", 45, "进行中"},
      {"> 45 % | x", 0, "x"},
      {"> abc | x", 0, "x"},
      {">+7|", 7, ""},
      {"> 256% | y", 0, "y"},
      {"> 5% | a | b", 5, "a | b"}};
  for (const auto& [line, progress, note] : cases) {
    const auto goal = parse_goal_file("g", "# g\n\n" + line + "\n");
    EXPECT_EQ(goal.progress, progress) << line;
    EXPECT_EQ(goal.note, note) << line;
  }
  // A line without "|" is no progress line; a later progress line replaces both values.
  const auto later = parse_goal_file("g", "> 10% | a\n> 50%\n  > 20% | b  \n");
  EXPECT_EQ(later.progress, 20);
  EXPECT_EQ(later.note, "b");
}

TEST(GoalFileParseTest, SectionsAndRatingWindow) {
  const auto goal = parse_goal_file("写作",
                                    "# 写作\r\n"
                                    "- 2026-01-01 before any heading\n"
                                    "## 阅读 40%\n"
                                    "- 2026-07-03 周报整理 动2 专3 持1 情2 反3\n"
                                    "- 2026-07-04 周报整理 动2 专3\n"
                                    "-  2026-07-05\n"
                                    "- nodate\n"
                                    "## 阅读 300%\n"
                                    "## 阅读 计划\r\n"
                                    "- 2026-07-06 a 动1 专1 持1 情1 反1 动3 tail\n"
                                    "- 2026-07-07 x 动1 专4 持1 情1 反1 专2 动3\n"
                                    "## 定稿");
  ASSERT_EQ(goal.sections.size(), 4u);
  EXPECT_EQ(goal.sections[0].name, "阅读");
  EXPECT_EQ(goal.sections[0].progress, 40);
  // Fewer than five tags are text, as this tool writes them.
  EXPECT_EQ(goal.sections[0].entries,
            (std::vector<GoalEntry>{{"2026-07-03", "周报整理", 2, 3, 1, 2, 3},
                                    {"2026-07-04", "周报整理 动2 专3", 0, 0, 0, 0, 0},
                                    {"", "2026-07-05", 0, 0, 0, 0, 0}}));
  // 300 does not fit the parser's 8 bits, so the word stays in the name.
  EXPECT_EQ(goal.sections[1], (GoalSection{"阅读 300%", {}, 0}));
  EXPECT_EQ(goal.sections[2].name, "阅读 计划");
  // The first window of five tags counts, later tokens are dropped, a later tag
  // of a kind wins, and a window may start after an out-of-range tag.
  EXPECT_EQ(goal.sections[2].entries,
            (std::vector<GoalEntry>{{"2026-07-06", "a", 1, 1, 1, 1, 1},
                                    {"2026-07-07", "x 动1 专4", 3, 2, 1, 1, 1}}));
  EXPECT_EQ(goal.sections[3], (GoalSection{"定稿", {}, 0}));
}

TEST(GoalFileEditTest, SectionInsertion) {
  const std::string file = "# 学习\n\n## 阅读 40%\n- a\n- b\n\n## 写作\n- c\n";
  // Lands at the end of its section, directly before the next heading.
  EXPECT_EQ(insert_entry_line(file, "- L", "阅读"),
            "# 学习\n\n## 阅读 40%\n- a\n- b\n\n- L\n## 写作\n- c\n");
  // The last section ends at the end of the file; a missing "\n" is added first.
  EXPECT_EQ(insert_entry_line("## 写作\n- c", "- L", "写作"), "## 写作\n- c\n- L\n");
  EXPECT_EQ(insert_entry_line("  ## 写作 7%%  ", "- L", "写作"), "  ## 写作 7%%  \n- L\n");
  // Only the first of two equal headings receives the line.
  EXPECT_EQ(insert_entry_line("## A\n## B\n## A\n", "- L", "A"), "## A\n- L\n## B\n## A\n");
  // No heading of that name (or no section): appended at the end, no heading made.
  EXPECT_EQ(insert_entry_line(file, "- L", "算法"), file + "- L\n");
  EXPECT_EQ(insert_entry_line("", "- L", "算法"), "\n- L\n");
  EXPECT_EQ(insert_entry_line("## 算法", "- L", std::nullopt), "## 算法\n- L\n");
  // Appending reads the last word as a 32-bit number, unlike the parser.
  EXPECT_EQ(insert_entry_line("## 阅读 300%\n## x\n", "- L", "阅读"), "## 阅读 300%\n- L\n## x\n");
  EXPECT_EQ(insert_entry_line("## 阅读 4294967296\n## x\n", "- L", "阅读"),
            "## 阅读 4294967296\n## x\n- L\n");
  EXPECT_EQ(insert_entry_line("## 阅读 计划\n## x\n", "- L", "阅读 计划"),
            "## 阅读 计划\n- L\n## x\n");
}

// The in-memory builder must leave exactly what filing line by line leaves.
TEST(GoalTextBuilderTest, MatchesFilingLineByLine) {
  const std::vector<std::string> pieces = {"## A\n", "## B 5%\n", "## A 7\n", "- x\n",    "\n",
                                           "text\n", "## C",      "- y\r\n",  "## 300%\n"};
  const std::vector<std::optional<std::string>> sections = {std::nullopt, "A", "B",
                                                            "C",          "D", "300%"};
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    std::string base;
    const int piece_count = static_cast<int>(random() % 7);
    for (int i = 0; i < piece_count; ++i) base += pieces[random() % pieces.size()];
    goals::GoalTextBuilder builder(base, goals::ReuseLines::No);
    std::string expected = base;
    for (int i = 0; i < 6; ++i) {
      const auto& section = sections[random() % sections.size()];
      const std::string line = "- " + std::to_string(i);
      expected = insert_entry_line(expected, line, section);
      EXPECT_TRUE(builder.file(line, section));
    }
    ASSERT_EQ(builder.text(), expected) << "base: " << base;
  }
}

TEST(GoalTextBuilderTest, ReusedLinesAreClaimedOncePerRegion) {
  goals::GoalTextBuilder builder("# 学习\n## 英语\n- L\r\n## 算法\n- M\n", goals::ReuseLines::Yes);
  EXPECT_FALSE(builder.file("- L", "英语"));        // claims the existing line
  EXPECT_TRUE(builder.file("- L", "英语"));         // a second equal record still lands
  EXPECT_TRUE(builder.file("- M", "英语"));         // - M lies outside the 英语 region
  EXPECT_FALSE(builder.file("- M", std::nullopt));  // no section: the whole file
  EXPECT_TRUE(builder.file("- N", "缺失"));
  EXPECT_EQ(builder.text(), "# 学习\n## 英语\n- L\r\n- L\n- M\n## 算法\n- M\n- N\n");
}
