#include "stats/snapshot.hpp"

#include <gtest/gtest.h>

#include <tuple>

#include "support/memory_file_system.hpp"
#include "support/output_files.hpp"

using stats::parse_snapshot;
using stats::Snapshot;
using testing_support::MemoryFileSystem;

namespace {

std::vector<journal::JournalEntry> records_on(std::initializer_list<const char*> dates) {
  std::vector<journal::JournalEntry> records;
  for (const char* date : dates) {
    records.emplace_back();
    records.back().date = date;
  }
  return records;
}

constexpr const char* kSnapshots = ".system/stats/snapshots/";
const std::filesystem::path kRoot = "/ws";

// Lays `text` out as the snapshot file `name` of the workspace at kRoot.
void lay(MemoryFileSystem& fs, const std::string& name, std::string text) {
  fs.write(kRoot / (kSnapshots + name), std::move(text));
}

}  // namespace

TEST(MonthEndSnapshotTest, OneFilePerMonthDatedItsLastDayAnsweredByTheIndex) {
  MemoryFileSystem fs;
  lay(fs, "2026-01-31.json", R"({"date": "2026-01-31", "goals": {}})");
  const store::Workspace workspace(kRoot, fs);
  auto stage = stats::month_end_snapshots(workspace,
                                          records_on({"2024-02-10", "2026-02-01", "2026-02-27",
                                                      "2026-12-05", "2026-13-01", "2026-00-09"}),
                                          {"B", "A", "A"});
  ASSERT_TRUE(stage);
  const auto files = testing_support::contents(stage->files);
  std::vector<std::string> paths;
  for (const auto& [path, bytes] : files) paths.push_back(path);
  std::vector<std::string> expected;
  for (const char* date : {"2024-02-29", "2026-00-31", "2026-02-28", "2026-12-31", "2026-13-28"}) {
    expected.push_back(std::string(kSnapshots) + date + ".json");
  }
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(files.at(".system/stats/snapshots/2026-12-31.json"),
            "{\n  \"date\": \"2026-12-31\",\n  \"goals\": {\n    \"A\": 0,\n    \"B\": 0\n  }\n}");
  // The index answers with this run's snapshots before they are on disk, and
  // with those earlier runs left.
  EXPECT_EQ(stage->index.find_at_or_before("2026-03-01")->date, "2026-02-28");
  EXPECT_EQ(stage->index.find_at_or_before("2026-02-01")->date, "2026-01-31");

  const auto no_goals = stats::month_end_snapshots(workspace, records_on({"2026-07-01"}), {});
  ASSERT_TRUE(no_goals);
  EXPECT_EQ(testing_support::bytes_of(no_goals->files.at(0)),
            "{\n  \"date\": \"2026-07-31\",\n  \"goals\": {}\n}");
  EXPECT_EQ(stats::month_end_snapshots(workspace, records_on({"2026-1x-03"}), {}).error(),
            "非法月份: 2026-1x");
}

TEST(SnapshotTest, ReadsBothShapesAndRejectsMalformedText) {
  const Snapshot expected{"2026-07-31", {{"A", 2}, {"工作", 0}}};
  EXPECT_EQ(parse_snapshot(R"({"goals": {"工作": 0, "A": 2}, "extra": [1], "date": "2026-07-31"})"),
            expected);
  EXPECT_EQ(parse_snapshot(R"(["2026-07-31", {"A": 2, "工作": 0}])"), expected);
  for (const char* bad :
       {R"({"date": "d"})", R"({"date": "d", "goals": {}, "date": "e"})", R"(["d", {}, 1])",
        R"(["d"])", R"({"date": 1, "goals": {}})", R"({"date": "d", "goals": {"A": 256}})",
        R"({"date": "d", "goals": {"A": -1}})", R"({"date": "d", "goals": {"A": 1.0}})",
        R"({"date": "d", "goals": []})", "{\"date\": \"d\", \"goals\": {}} x", ""}) {
    EXPECT_FALSE(parse_snapshot(bad)) << bad;
  }
}

TEST(SnapshotTest, TheIndexReadsFilesOfBothShapesAndPassesOverBadOnes) {
  MemoryFileSystem fs;
  lay(fs, "2026-06-30.json", R"({"goals": {"A": 2, "工作": 0}, "date": "x"})");
  lay(fs, "2026-07-31.json", R"(["2026-07-31", {"A": 5, "B": 1}])");
  lay(fs, "2026-08-31.json", R"({"date": "2026-08-31", "goals": []})");
  const files::Tree tree(kRoot, fs);
  stats::SnapshotIndex index(tree);
  EXPECT_EQ(index.find_at_or_before("2026-07-30"), (Snapshot{"x", {{"A", 2}, {"工作", 0}}}));
  // A malformed file is as good as an absent one: the days before it are looked at.
  const auto moved = index.movement("2026-07-30", "2026-08-31");
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ((std::tuple{moved[0].goal, moved[0].from, moved[0].to}), (std::tuple{"A", 2, 5}));
  // None on or before the first date: no movement.
  EXPECT_TRUE(index.movement("2026-06-29", "2026-08-31").empty());
}

TEST(SnapshotTest, LooksBackAtMostSixtyDays) {
  MemoryFileSystem fs;
  lay(fs, "2026-06-30.json", R"({"date": "2026-06-30", "goals": {}})");
  lay(fs, "1969-11-02.json", R"({"date": "x", "goals": {}})");
  const files::Tree tree(kRoot, fs);
  stats::SnapshotIndex index(tree);
  EXPECT_EQ(index.find_at_or_before("2026-07-15")->date, "2026-06-30");
  EXPECT_EQ(index.find_at_or_before("2026-06-30")->date, "2026-06-30");
  EXPECT_TRUE(index.find_at_or_before("2026-08-29"));   // 60 days back
  EXPECT_FALSE(index.find_at_or_before("2026-08-30"));  // 61 days back
  EXPECT_FALSE(index.find_at_or_before("2026-06-29"));

  // A date that does not parse steps back from 1970-01-01.
  EXPECT_TRUE(index.find_at_or_before("2026-13-30"));
}
