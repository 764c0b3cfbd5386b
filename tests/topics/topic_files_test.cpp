#include "topics/topic_files.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.hpp"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

graph::Edge edge(std::string from, std::string to) {
  graph::Edge e;
  e.id = from + "-" + to;
  e.from = std::move(from);
  e.to = std::move(to);
  return e;
}

// Topic a: three records (one linked twice), a goal and a dangling end; b and
// c linked to each other; 自 linked to itself; two topics no file may be made for.
graph::Graph sample_graph() {
  graph::Graph g;
  g.nodes = {
      graph::Record{"r_1", "2026-07-01", "09:00", "晨会"},
      graph::Record{"r_2", "2026-07-02", "09:00", "周报"},
      graph::Topic{"t_a", "a"},
      graph::Record{"r_3", "2026-07-03", "09:00", "复盘"},
      graph::Goal{"g_x", "x"},
      graph::Topic{"t_c", "c"},
      graph::Topic{"t_b", "b"},
      graph::Topic{"t_self", "自"},
      graph::Topic{"t_up", "../up"},
      graph::Topic{"t_index", "_index"},
      graph::Record{"r_1", "2099-01-01", "00:00", "second node with a used id"},
  };
  g.edges = {
      edge("r_2", "t_a"),  edge("t_a", "r_1"),    edge("r_3", "t_a"),    edge("r_3", "t_a"),
      edge("g_x", "t_a"),  edge("t_a", "r_gone"), edge("t_b", "t_c"),    edge("t_self", "t_self"),
      edge("r_1", "g_x"),
  };
  return g;
}

}  // namespace

TEST(TopicsIndexTest, CountsEveryEdgeTouchingATopicBetweenExistingNodes) {
  // a: four record links and the goal link (the dangling edge is not counted);
  // b and c count their shared edge once each; the self-link counts once.
  EXPECT_EQ(topics::topics_index_text(sample_graph()),
            "# 主题\n\na 5次\nb 1次\nc 1次\n自 1次\n../up 0次\n_index 0次\n");
  EXPECT_EQ(topics::topics_index_text(graph::Graph{}), "# 主题\n\n");
}

TEST(TopicFilesTest, ListsRecordEndsOnlyAndKeepsDuplicates) {
  TempDir outer;
  const auto root = outer.path() / "ws";
  std::ostringstream err;
  ASSERT_TRUE(topics::write_topics_index(store::Workspace(root), sample_graph()));
  ASSERT_TRUE(topics::write_topic_files(store::Workspace(root), sample_graph(), err));

  const auto topics_dir = fs::path("ws/.system/topics");
  // Entry lines follow edge order, from either direction.
  EXPECT_EQ(outer.read(topics_dir / "a.md"),
            "# a\n\n> 4次 | 派生自 graph.json\n\n## 出现记录\n\n"
            "- 2026-07-02 周报\n- 2026-07-01 晨会\n- 2026-07-03 复盘\n- 2026-07-03 复盘\n");
  EXPECT_EQ(outer.read(topics_dir / "自.md"),
            "# 自\n\n> 0次 | 派生自 graph.json\n\n## 出现记录\n\n（暂无关联记录）\n");
  EXPECT_EQ(outer.read(topics_dir / "_index.md"),
            "# 主题\n\na 5次\nb 1次\nc 1次\n自 1次\n../up 0次\n_index 0次\n");
  EXPECT_TRUE(outer.exists(topics_dir / "b.md"));
  EXPECT_FALSE(outer.exists("ws/.system/up.md"));
  EXPECT_EQ(err.str(), "[warn] 跳过不安全的路径名: 「../up」\n[warn] 跳过不安全的路径名: 「_index」\n");
}

TEST(TopicFilesTest, ReadsGraphJsonAndReportsFailures) {
  TempDir dir;
  std::ostringstream err;
  ASSERT_TRUE(topics::write_topics_index(store::Workspace(dir.path()), graph::Graph{}));
  EXPECT_EQ(dir.read(".system/topics/_index.md"), "# 主题\n\n");
  dir.write(".system/graph.json", R"({"nodes": [
      {"type": "topic", "id": "t_项目", "name": "项目/子", "x": 0, "y": 0}], "edges": []})");
  store::Workspace workspace(dir.path());
  ASSERT_TRUE(topics::write_topic_files(workspace, graph::load_graph(workspace), err));
  EXPECT_EQ(dir.read(".system/topics/项目/子.md"),
            "# 项目/子\n\n> 0次 | 派生自 graph.json\n\n## 出现记录\n\n（暂无关联记录）\n");

  // Node order a, c, b: c is written, b fails, later topics are not written.
  dir.write(".system/topics/b.md/x", "");
  const auto written = topics::write_topic_files(store::Workspace(dir.path()), sample_graph(), err);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "写入主题文件 b 失败: IO 错误: Is a directory");
  EXPECT_TRUE(dir.exists(".system/topics/c.md"));
  EXPECT_FALSE(dir.exists(".system/topics/自.md"));

  fs::remove(dir / ".system/topics/_index.md");
  dir.write(".system/topics/_index.md/x", "");
  const auto index = topics::write_topics_index(store::Workspace(dir.path()), sample_graph());
  ASSERT_FALSE(index);
  EXPECT_EQ(index.error(), "写入 topics/_index.md 失败: IO 错误: Is a directory");
}
