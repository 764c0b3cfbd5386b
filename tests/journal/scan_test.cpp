#include "journal/scan.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "files/file_system.hpp"
#include "files/path_text.hpp"
#include "support/memory_file_system.hpp"

namespace {

journal::JournalEntry with_fields(std::string_view text) {
  journal::JournalEntry entry;
  journal::add_inventory_fields(entry, text);
  return entry;
}

std::string record(std::string_view time, std::string_view extra = "") {
  return "## " + std::string(time) + "\n" + std::string(extra);
}

}  // namespace

TEST(InventoryFieldsTest, TopicIsTheTrimmedSecondPathSegment) {
  EXPECT_TRUE(with_fields("相对路径：a\n").topics.empty());
  EXPECT_EQ(with_fields("相对路径：/a/b\n").topics, std::vector<std::string>{"a"});
  EXPECT_EQ(with_fields("相对路径：a/ b /c\n").topics, std::vector<std::string>{"b"});
  EXPECT_TRUE(with_fields("相对路径：a/\n").topics.empty());
  EXPECT_EQ(with_fields("  相对路径：工作\\项目A\\会议.docx\u3000\n").topics,
            std::vector<std::string>{"项目A"});
  EXPECT_EQ(with_fields("相对路径：x\\项目A\\1\n相对路径：y/项目A/2\n相对路径：z/项目B\n").topics,
            (std::vector<std::string>{"项目A", "项目B"}));
  // An ASCII colon is not the label.
  EXPECT_TRUE(with_fields("相对路径:a/b\n").topics.empty());
}

TEST(InventoryFieldsTest, FirstNonEmptyCategoryIsTheGoal) {
  EXPECT_EQ(with_fields("分类：　 \n分类： 工作/日报 \n分类：生活\n").goal, "工作/日报");
  EXPECT_FALSE(with_fields("分类：\n").goal);
  journal::JournalEntry rated;
  rated.goal = "来自评分行";
  journal::add_inventory_fields(rated, "分类：工作\n");
  EXPECT_EQ(rated.goal, "来自评分行");
}

class ScanTest : public ::testing::Test {
 protected:
  std::vector<journal::JournalEntry> scan() {
    auto scanned = journal::scan_journal(root, err, fs);
    EXPECT_TRUE(scanned.has_value());
    return scanned ? std::move(scanned->records) : std::vector<journal::JournalEntry>{};
  }
  void write(const std::string& relative, std::string bytes) {
    fs.write(root / files::utf8_path(relative), std::move(bytes));
  }
  const std::filesystem::path root = "/ws";
  testing_support::MemoryFileSystem fs;
  std::ostringstream err;
};

TEST_F(ScanTest, FindsOnlyFilesThreeLevelsDown) {
  write("2026/07/2026-07-03-a.md", record("09:00"));
  write("2026-07-01-root.md", record("09:00"));
  write("2026/2026-07-01-year.md", record("09:00"));
  write("2026/07/sub/2026-07-02-deep.md", record("09:00"));
  write("2026-07/07/2026-07-02-x.md", record("09:00"));  // not a year directory
  write("2026/7/2026-07-02-x.md", record("09:00"));      // not a month directory
  write(".system/07/2026-07-02-x.md", record("09:00"));
  write("2026/07/2026-07-09-upper.MD", record("09:00"));
  write("2026/07/short.md", record("09:00"));        // under 10 bytes
  write("2026/07/2026-07-1中.md", record("09:00"));  // byte 10 inside a character
  write("2026/07/2026-07-04-nohead.md", "no heading here\n");
  write("2025/01/2026-07-05-misfiled.md", record("08:00"));
  const auto records = scan();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].file_name, "2026-07-03-a.md");
  EXPECT_EQ(records[1].file_name, "2026-07-05-misfiled.md");
  EXPECT_EQ(records[1].date, "2026-07-05");  // the name, not the directory
  EXPECT_EQ(err.str(), "[warn] 跳过无法读取的记录文件: " + root.string() +
                           "/2026/07/2026-07-1中.md: 文件名不以有效日期 YYYY-MM-DD 开头\n");
}

// Each file is skipped for the first check it fails, in the order name, date,
// kind, size, content; all but a misnamed one keep their date for the graph.
TEST_F(ScanTest, SkippedRecordFilesAreReportedAndKeepTheirDates) {
  constexpr auto kMax = files::kMaxRecordBytes;
  write("2026/07/2026-02-30\x1b.md", record("09:00"));
  write("2026/07/2026-07-03-gbk.md", "## 09:00\n\xC4\xE3\xBA\xC3\n");
  fs.make_directory(root / "2026/07/2026-07-04-dir.md");
  write("2026/07/2026-07-05-ok.md", record("09:00"));
  auto big = record("09:00");
  big.resize(kMax + 1);
  write("2026/07/2026-07-06-big.md", std::move(big));
  write("2026/07/2026-07-06-x\n## 伪造.md", record("09:00"));
  // At the limit: read, and without a heading skipped silently.
  write("2026/07/2026-07-07-exact.md", std::string(kMax, '\0'));
  write("2026/07/2026-7-08-x.md", record("09:00"));
  std::ostringstream warnings;
  const auto scanned = journal::scan_journal(root, warnings, fs);
  ASSERT_TRUE(scanned);
  ASSERT_EQ(scanned->records.size(), 1u);
  const auto at = "[warn] 跳过无法读取的记录文件: " + root.string() + "/2026/07/";
  EXPECT_EQ(warnings.str(), at + "2026-02-30\\u001b.md: 文件名含控制字符\n" + at +
                                "2026-07-03-gbk.md: 不是有效的 UTF-8 文本\n" + at +
                                "2026-07-04-dir.md: 不是普通文件\n" + at +
                                "2026-07-06-big.md: 文件过大（16777217 字节，上限 16 MiB）\n" + at +
                                "2026-07-06-x\\u000a## 伪造.md: 文件名含控制字符\n" + at +
                                "2026-7-08-x.md: 文件名不以有效日期 YYYY-MM-DD 开头\n");
  EXPECT_EQ(scanned->skipped.dates,
            (std::set<std::string, std::less<>>{"2026-07-03", "2026-07-04", "2026-07-06"}));
}

TEST_F(ScanTest, ConflictCopiesReadAreNamedOnceAfterTheOtherWarnings) {
  for (const char* name :
       {"5-z (1).md", "1-a.md", "1-a (1).md", "1-a (x).md", "1-a (conflicted copy 1).md",
        "3-c (Case Conflict).md", "1-a.sync-conflict-1-2-X.md", "８-x (Case Conflict).md",
        "2-b (Jane's conflicted copy 2026-12-01).md"}) {
    write("2026/07/2026-07-0" + std::string(name), record("09:00"));
  }
  EXPECT_EQ(scan().size(), 8u);
  const auto at = root.string() + "/2026/07/2026-07-0";
  EXPECT_EQ(err.str(), "[warn] 跳过无法读取的记录文件: " + at +
                           "８-x (Case Conflict).md: 文件名不以有效日期 YYYY-MM-DD 开头\n"
                           "[warn] 发现 5 个疑似同步冲突副本（仍按记录处理）: " +
                           at + "1-a (1).md, " + at + "1-a (conflicted copy 1).md, " + at +
                           "1-a.sync-conflict-1-2-X.md\n");
}

TEST_F(ScanTest, OrdersByDateThenTimeAndKeepsFileNameOrderForTies) {
  write("2026/07/2026-07-03-b.md", record("09:30"));
  write("2026/07/2026-07-03-a.md", record("09:30"));
  write("2026/07/2026-07-03-c.md", record("08:00"));
  write("2026/06/2026-07-03-z.md", record("09:30"));  // earlier month directory
  write("2025/12/2025-12-31-y.md", record("23:59"));
  const auto records = scan();
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.file_name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"2025-12-31-y.md", "2026-07-03-c.md", "2026-07-03-z.md",
                                      "2026-07-03-a.md", "2026-07-03-b.md"}));
}

TEST(InferTest, ListsAndCounts) {
  std::vector<journal::JournalEntry> records(3);
  records[0].goal = "工作/日报";
  records[0].topics = {"项目B", "项目A"};
  records[1].goal = "工作";
  records[1].topics = {"项目A"};
  const auto scan = journal::infer(records);
  EXPECT_EQ(scan.goals, (std::vector<std::string>{"工作", "工作/日报"}));
  EXPECT_EQ(scan.topics, (std::vector<std::string>{"项目A", "项目B"}));
  EXPECT_EQ(scan.with_goal, 2u);
  EXPECT_EQ(scan.with_topic, 2u);
}
