#include "check/self_check.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "graph/model.hpp"
#include "support/memory_file_system.hpp"

namespace {

journal::JournalEntry record(std::string file_name, std::string time) {
  journal::JournalEntry entry;
  entry.date = file_name.substr(0, 10);
  entry.time = std::move(time);
  entry.file_name = std::move(file_name);
  return entry;
}

class SelfCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { memory.write("/ws/2026/07/2026-07-03-a.md", "## 09:30\n分类：工作\n"); }

  // The check is of the graph the run staged: graph.json is not written yet.
  void stage_graph(std::vector<graph::Node> nodes, std::vector<graph::Edge> edges = {}) {
    staged.nodes = std::move(nodes);
    staged.edges = std::move(edges);
  }

  std::expected<void, check::Failure> check(const std::vector<journal::JournalEntry>& records) {
    store::Workspace workspace("/ws", memory);
    return check::self_check(workspace, records, staged, 0, out);
  }

  testing_support::MemoryFileSystem memory;
  graph::Graph staged;
  std::ostringstream out;
};

TEST_F(SelfCheckTest, PassesAndCountsRecordsFoldedIntoOneNode) {
  stage_graph({graph::Record{"r_20260703_0930", "2026-07-03", "09:30", "a", 0, 0},
               graph::Record{"r_20260704_1000", "2026-07-04", "10:00", "b", 0, 0}});
  const auto records = {record("2026-07-03-a.md", "09:30"), record("2026-07-03-b.md", "09:30"),
                        record("2026-07-04-c.md", "10:00")};
  ASSERT_TRUE(check(records));
  EXPECT_EQ(out.str(),
            "  ✓ 自检通过: 图谱无悬空边, record 节点 2 = 去重 date+time 键 (3 条记录, 1 条因同分钟 "
            "mtime 合并)\n");
}

TEST_F(SelfCheckTest, ReloadFailuresAreOrdinaryFailures) {
  const auto misfiled = check({record("2026-07-05-x.md", "09:30")});
  ASSERT_FALSE(misfiled);
  EXPECT_EQ(misfiled.error().kind, check::Failure::Kind::ReloadFailed);
  EXPECT_EQ(misfiled.error().text, "读取日记文件失败: No such file or directory");

  const auto bad_name = check({record("2026-07.md", "09:30")});
  ASSERT_FALSE(bad_name);
  EXPECT_EQ(bad_name.error().text, "非法日记文件名: 2026-07.md");
  EXPECT_EQ(out.str(), "");
}

TEST_F(SelfCheckTest, RoundTripMismatchesStopHard) {
  auto wrong_time = record("2026-07-03-a.md", "10:00");
  const auto time = check({wrong_time});
  ASSERT_FALSE(time);
  EXPECT_EQ(time.error().kind, check::Failure::Kind::Inconsistent);
  EXPECT_EQ(time.error().text, "round-trip time mismatch\n  left: \"09:30\"\n right: \"10:00\"");

  // The scan would give the date of the name; a record claiming another date
  // does not read back the same.
  auto wrong_date = record("2026-07-03-a.md", "09:30");
  wrong_date.date = "2026-07-04";
  EXPECT_EQ(check({wrong_date}).error().text,
            "round-trip date mismatch\n  left: \"2026-07-03\"\n right: \"2026-07-04\"");
}

TEST_F(SelfCheckTest, AGoalReadBackFromTheRatingLineStopsHard) {
  memory.write("/ws/2026/07/2026-07-03-a.md", "## 09:30\n动2 → 学习/\"精读\"\n");
  const auto result = check({record("2026-07-03-a.md", "09:30")});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, check::Failure::Kind::Inconsistent);
  EXPECT_EQ(result.error().text,
            "原始记录不应被写入目标行，但读回了 goal=Some(\"学习/\\\"精读\\\"\")");
}

TEST_F(SelfCheckTest, DanglingEdgesStopHardAndAreListedInGraphOrder) {
  stage_graph({graph::Record{"r_20260703_0930", "2026-07-03", "09:30", "a", 0, 0}},
              {graph::Edge{"e2", "r_20260703_0930", "t_gone", 1, graph::EdgeSource::Llm, false},
               graph::Edge{"ok", "r_20260703_0930", "r_20260703_0930", 1, {}, false},
               graph::Edge{"e1", "g_gone", "r_20260703_0930", 1, {}, false}});
  const auto result = check({record("2026-07-03-a.md", "09:30")});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, check::Failure::Kind::Inconsistent);
  EXPECT_EQ(result.error().text, "图谱存在悬空边: [\"e2\", \"e1\"]");
}

TEST_F(SelfCheckTest, RecordNodeCountMustMatchDistinctKeys) {
  stage_graph({});
  const auto result = check({record("2026-07-03-a.md", "09:30")});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, check::Failure::Kind::Inconsistent);
  EXPECT_EQ(result.error().text,
            "record 节点数 0 ≠ 去重 date+time 键数 1 (1 条记录中 0 条因时间戳碰撞合并)\n"
            "  left: 0\n right: 1");
}

}  // namespace
