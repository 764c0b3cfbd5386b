#include "journal/files.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "journal/scan.hpp"
#include "support/memory_file_system.hpp"

using journal::DayListingCache;
using journal::parse_day_key;
using journal::reload_entry;

namespace {

const std::filesystem::path kRoot = "/ws";

std::vector<std::string> names(const std::vector<journal::JournalEntry>& entries) {
  std::vector<std::string> out;
  for (const auto& entry : entries) out.push_back(entry.file_name);
  return out;
}

}  // namespace

TEST(DayKeyTest, AcceptsSignedFormsWithoutACalendarTest) {
  const auto key = parse_day_key("2026-13-45");
  ASSERT_TRUE(key);
  EXPECT_EQ(std::tie(key->year, key->month, key->day), std::make_tuple(2026, 13, 45));
  const auto signed_key = parse_day_key("-012-+7-+3");
  ASSERT_TRUE(signed_key);
  EXPECT_EQ(std::tie(signed_key->year, signed_key->month, signed_key->day),
            std::make_tuple(-12, 7, 3));
  EXPECT_EQ(parse_day_key("+026-07-03")->year, 26);
  for (const char* bad : {"2026-7-03", "2026/07/03", "2026-07-3", "2026-07-03x", "20x6-07-03",
                          "2026--7-03", "2026-07-+x", "++26-07-03", ""}) {
    EXPECT_FALSE(parse_day_key(bad)) << bad;
  }
  EXPECT_EQ(journal::day_dir("r", -5, 7), std::filesystem::path("r/-005/07"));
  EXPECT_EQ(journal::day_dir("r", 26, 13), std::filesystem::path("r/0026/13"));
}

TEST(ListDayEntriesTest, TakesOnlyTheDaysFilesInTimeOrder) {
  testing_support::MemoryFileSystem fs;
  fs.write(kRoot / "2026/07/2026-07-03-b.md", "## 09:00\nb");
  fs.write(kRoot / "2026/07/2026-07-03-a.md", "## 09:00\na");
  fs.write(kRoot / "2026/07/2026-07-03-c.md", "## 08:59\nc");
  fs.write(kRoot / "2026/07/2026-07-030.md", "## 07:00");
  fs.write(kRoot / "2026/07/2026-07-04-d.md", "## 07:00");
  fs.write(kRoot / "2026/07/2026-07-03-e.txt", "## 07:00");
  fs.write(kRoot / "2026/07/2026-07-03-x.md", "no heading");
  fs.write(kRoot / "2026/07/2026-07-03-bad.md", "## 07:00\n\xff");
  fs.make_directory(kRoot / "2026/07/2026-07-03-dir.md");
  fs.write(kRoot / "2026/06/2026-07-03-misfiled.md", "## 07:00");

  DayListingCache cache(kRoot, fs);
  const auto listed = cache.day_entries("2026-07-03");
  ASSERT_TRUE(listed);
  EXPECT_EQ(names(*listed),
            (std::vector<std::string>{"2026-07-03-c.md", "2026-07-03-a.md", "2026-07-03-b.md"}));
  EXPECT_EQ(listed->front().date, "2026-07-03");
  EXPECT_EQ(listed->front().title, "c");

  EXPECT_EQ(cache.day_entries("2026-08-01"), std::vector<journal::JournalEntry>{});
  EXPECT_EQ(cache.day_entries("2026-7-03").error(), "非法日期: 2026-7-03");
}

// Both a cache that keeps the listings of earlier days and the one answered
// from the scan's parse must give exactly what a fresh listing gives.
TEST(ListDayEntriesTest, CachesAnswerExactlyLikeAFreshListing) {
  testing_support::MemoryFileSystem fs;
  for (const char* name : {"2026-07-01-a.md", "2026-07-01-b.md", "2026-07-02-c.md",
                           "2026-+7-01-d.md", "2026-07-01-", "2026-08-01-filed-in-july.md"}) {
    fs.write(kRoot / "2026/07" / name, "## 10:00\n分类：工作\n相对路径：a\\b\\c\n");
  }
  fs.write(kRoot / "2026/07/2026-07-01-0.md", "## 09:00\n动2 → 评分行目标\n分类：工作\n");
  fs.write(kRoot / "2026/07/2026-07-01-gbk.md", "## 09:00\n\xff\n");
  fs.write(kRoot / "2026/07/2026-07-02-none.md", "no heading");
  fs.write(kRoot / "2026/08/2026-08-02-e.md", "## 08:00\n");
  std::ostringstream warnings;
  const auto scanned = journal::scan_journal(kRoot, warnings, fs);
  ASSERT_TRUE(scanned);
  DayListingCache listing(kRoot, fs);
  DayListingCache from_scan(kRoot, scanned->records, scanned->months, fs);
  for (const char* date : {"2026-07-01", "2026-07-02", "2026-+7-01", "2026-07-05", "2026-08-01",
                           "2026-08-02", "2026-07-1", "2026-07-01", "-001-07-01"}) {
    const auto fresh = DayListingCache(kRoot, fs).day_entries(date);
    EXPECT_EQ(listing.day_entries(date), fresh) << date;
    EXPECT_EQ(from_scan.day_entries(date), fresh) << date;
  }
  // Like the scan, a listing takes no file whose name is not a calendar date.
  EXPECT_EQ(names(*listing.day_entries("2026-+7-01")), std::vector<std::string>{});
  EXPECT_EQ(from_scan.day_entries("2026-07-01")->front().goal, "评分行目标");
}

TEST(ReloadEntryTest, FindsTheFileByItsDateAndReportsEachFailure) {
  testing_support::MemoryFileSystem fs;
  fs.write(kRoot / "2026/07/2026-07-03.md", "## 09:30\nx");
  fs.write(kRoot / "2026/07/2026-07-03-x.md", "no heading");
  const auto entry = reload_entry(kRoot, "2026-07-03.md", fs);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->date, "2026-07-03");
  EXPECT_EQ(entry->time, "09:30");

  EXPECT_EQ(reload_entry(kRoot, "2026-07-3.md", fs).error(), "非法日记文件名: 2026-07-3.md");
  EXPECT_EQ(reload_entry(kRoot, "notes.md", fs).error(), "非法日记文件名: notes.md");
  EXPECT_EQ(reload_entry(kRoot, "2026-07-03-x.txt", fs).error(),
            "非法日记文件名: 2026-07-03-x.txt");
  EXPECT_EQ(reload_entry(kRoot, "2026-07-03-x.md", fs).error(),
            "日记文件缺少 ## HH:MM 标题: 2026-07-03-x.md");
  EXPECT_EQ(reload_entry(kRoot, "2026-07-04-y.md", fs).error(),
            "读取日记文件失败: No such file or directory");
}
