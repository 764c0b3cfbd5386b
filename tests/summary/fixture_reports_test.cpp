// Runs the snapshot writer and the report stage on the example workspaces and
// compares every snapshot and summary file with the recorded results.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "journal/entry.hpp"
#include "stats/snapshot.hpp"
#include "summary/writer.hpp"
#include "support/temp_dir.hpp"
#include "util/fs.hpp"
#include "util/text.hpp"

namespace fs = std::filesystem;

namespace {

fs::path fixture_dir(const std::string& name) {
  return fs::path(BACKFILL_SOURCE_DIR) / ".." / "shared" / "fixtures" / name;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string mask_stamp(const std::string& content) {
  static const std::regex stamp("> AI 回看 · 生成于 [^\n]*");
  return std::regex_replace(content, stamp, "> AI 回看 · 生成于 <STAMP>");
}

bool all_digits(std::string_view s) {
  return std::ranges::all_of(s, [](char c) { return c >= '0' && c <= '9'; });
}

// The record dates as the run's scan sees them: root/YYYY/MM/*.md, date from
// the first ten bytes of the file name.
std::vector<journal::JournalEntry> scan_records(const fs::path& root) {
  std::vector<journal::JournalEntry> records;
  const auto years = fsx::list_dir(root);
  if (!years) return records;
  for (const auto& year : *years) {
    if (year.name.size() != 4 || !all_digits(year.name)) continue;
    const auto months = fsx::list_dir(year.path);
    if (!months) continue;
    for (const auto& month : *months) {
      if (month.name.size() != 2 || !all_digits(month.name)) continue;
      const auto files = fsx::list_dir(month.path);
      if (!files) continue;
      for (const auto& file : *files) {
        const std::string_view name = file.name;
        if (!name.ends_with(".md") || name.size() < 10 || !text::is_char_boundary(name, 10)) {
          continue;
        }
        const auto content = fsx::read_text(file.path);
        if (!content) continue;
        if (auto entry = journal::parse_entry(*content, name.substr(0, 10), name)) {
          records.push_back(std::move(*entry));
        }
      }
    }
  }
  std::ranges::stable_sort(records, [](const auto& a, const auto& b) {
    return std::tie(a.date, a.time) < std::tie(b.date, b.time);
  });
  return records;
}

std::set<std::string> files_below(const fs::path& dir) {
  std::set<std::string> files;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), dir).string());
  }
  return files;
}

class FixtureReportsTest : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureReportsTest, SnapshotsAndSummariesMatchTheRecordedRun) {
  const auto base = fixture_dir(GetParam());
  if (!fs::is_directory(base)) GTEST_SKIP() << "example fixtures not available";
  const auto expected = base / "real" / "expected" / "ws";
  testing_support::TempDir work;
  const auto root = work / "ws";
  fs::copy(base / "input" / "ws", root, fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
  }

  // The goal list of the run is every goal a snapshot names.
  std::vector<std::string> goals;
  const auto snapshots = expected / ".system" / "stats" / "snapshots";
  for (const auto& file : files_below(snapshots)) {
    const auto snapshot = stats::load_snapshot(expected, file.substr(0, file.size() - 5));
    ASSERT_TRUE(snapshot) << file;
    for (const auto& [goal, state] : snapshot->goals) goals.push_back(goal);
  }
  std::ranges::sort(goals);
  goals.erase(std::ranges::unique(goals).begin(), goals.end());

  const auto records = scan_records(root);
  ASSERT_TRUE(stats::write_month_end_snapshots(root, records, goals));
  const auto written_snapshots = root / ".system" / "stats" / "snapshots";
  EXPECT_EQ(files_below(written_snapshots), files_below(snapshots));
  for (const auto& file : files_below(snapshots)) {
    EXPECT_EQ(slurp(written_snapshots / file), slurp(snapshots / file)) << file;
  }

  const auto counts = summary::write_reports(root, records);
  ASSERT_TRUE(counts) << counts.error();
  const auto expected_files = files_below(expected / "summary");
  EXPECT_EQ(files_below(root / "summary"), expected_files);
  std::size_t monthly = 0, weekly = 0, daily = 0;
  for (const auto& file : expected_files) {
    monthly += file.starts_with("monthly/");
    weekly += file.starts_with("weekly/");
    daily += file.starts_with("daily/");
    EXPECT_EQ(mask_stamp(slurp(root / "summary" / file)),
              mask_stamp(slurp(expected / "summary" / file)))
        << file;
  }
  EXPECT_EQ(counts->monthly, monthly);
  EXPECT_EQ(counts->weekly, weekly);
  EXPECT_EQ(counts->daily, daily);
}

INSTANTIATE_TEST_SUITE_P(Examples, FixtureReportsTest,
                         ::testing::Values("ratings-july", "inventory-mixed"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });

}  // namespace
