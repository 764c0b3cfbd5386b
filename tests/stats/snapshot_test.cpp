#include "stats/snapshot.hpp"

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

using stats::load_snapshot;
using stats::Snapshot;
using testing_support::TempDir;

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

}  // namespace

TEST(MonthEndSnapshotTest, OneFilePerMonthDatedItsLastDay) {
  TempDir root;
  ASSERT_TRUE(
      stats::write_month_end_snapshots(store::Workspace(root.path()),
                                       records_on({"2024-02-10", "2026-02-01", "2026-02-27",
                                                   "2026-12-05", "2026-13-01", "2026-00-09"}),
                                       {"B", "A", "A"}));
  for (const char* date : {"2024-02-29", "2026-02-28", "2026-12-31", "2026-13-28", "2026-00-31"}) {
    EXPECT_TRUE(root.exists(std::string(kSnapshots) + date + ".json")) << date;
  }
  EXPECT_EQ(root.read(std::string(kSnapshots) + "2026-12-31.json"),
            "{\n  \"date\": \"2026-12-31\",\n  \"goals\": {\n    \"A\": 0,\n    \"B\": 0\n  }\n}");

  TempDir empty_goals;
  ASSERT_TRUE(stats::write_month_end_snapshots(store::Workspace(empty_goals.path()), records_on({"2026-07-01"}), {}));
  EXPECT_EQ(empty_goals.read(std::string(kSnapshots) + "2026-07-31.json"),
            "{\n  \"date\": \"2026-07-31\",\n  \"goals\": {}\n}");
}

TEST(MonthEndSnapshotTest, StopsAtAnUnparsableMonthOrAFailedWrite) {
  TempDir root;
  EXPECT_EQ(stats::write_month_end_snapshots(store::Workspace(root.path()), records_on({"2026-1x-03"}), {}).error(),
            "非法月份: 2026-1x");

  // A directory where the July file belongs makes its replace fail; June,
  // written before, stays.
  std::filesystem::create_directories(root / kSnapshots / "2026-07-31.json");
  const auto written = stats::write_month_end_snapshots(
      store::Workspace(root.path()), records_on({"2026-06-30", "2026-07-02"}), {"工作"});
  ASSERT_FALSE(written);
  EXPECT_TRUE(written.error().starts_with("写入快照失败: IO 错误: ")) << written.error();
  EXPECT_TRUE(root.exists(std::string(kSnapshots) + "2026-06-30.json"));
}

TEST(LoadSnapshotTest, ReadsBothShapesAndRejectsMalformedFiles) {
  TempDir root;
  const Snapshot expected{"2026-07-31", {{"A", 2}, {"工作", 0}}};
  root.write(std::string(kSnapshots) + "object.json",
             R"({"goals": {"工作": 0, "A": 2}, "extra": [1], "date": "2026-07-31"})");
  root.write(std::string(kSnapshots) + "array.json", R"(["2026-07-31", {"A": 2, "工作": 0}])");
  EXPECT_EQ(load_snapshot(root.path(), "object"), expected);
  EXPECT_EQ(load_snapshot(root.path(), "array"), expected);

  int index = 0;
  for (const char* bad :
       {R"({"date": "d"})", R"({"date": "d", "goals": {}, "date": "e"})", R"(["d", {}, 1])",
        R"(["d"])", R"({"date": 1, "goals": {}})", R"({"date": "d", "goals": {"A": 256}})",
        R"({"date": "d", "goals": {"A": -1}})", R"({"date": "d", "goals": {"A": 1.0}})",
        R"({"date": "d", "goals": []})", "{\"date\": \"d\", \"goals\": {}} x", ""}) {
    const std::string name = "bad" + std::to_string(index++);
    root.write(std::string(kSnapshots) + name + ".json", bad);
    EXPECT_FALSE(load_snapshot(root.path(), name)) << bad;
  }
  EXPECT_FALSE(load_snapshot(root.path(), "missing"));
}

TEST(LoadSnapshotTest, LooksBackAtMostSixtyDays) {
  TempDir root;
  root.write(std::string(kSnapshots) + "2026-06-30.json", R"({"date": "2026-06-30", "goals": {}})");
  root.write(std::string(kSnapshots) + "1969-11-02.json", R"({"date": "x", "goals": {}})");
  const store::Tree tree(root.path());
  stats::SnapshotIndex index(tree);
  const auto find_snapshot_at_or_before = [&](const auto&, std::string_view date) {
    return index.find_at_or_before(date);
  };
  EXPECT_EQ(find_snapshot_at_or_before(root.path(), "2026-07-15")->date, "2026-06-30");
  EXPECT_EQ(find_snapshot_at_or_before(root.path(), "2026-06-30")->date, "2026-06-30");
  EXPECT_TRUE(find_snapshot_at_or_before(root.path(), "2026-08-29"));   // 60 days back
  EXPECT_FALSE(find_snapshot_at_or_before(root.path(), "2026-08-30"));  // 61 days back
  EXPECT_FALSE(find_snapshot_at_or_before(root.path(), "2026-06-29"));

  // A date that does not parse steps back from 1970-01-01.
  EXPECT_TRUE(find_snapshot_at_or_before(root.path(), "2026-13-30"));
}
