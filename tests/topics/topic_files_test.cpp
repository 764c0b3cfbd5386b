#include "topics/topic_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "files/path_text.hpp"
#include "support/output_files.hpp"

namespace {

graph::Edge edge(const std::string& from, const std::string& to) {
  return graph::Edge(from + "-" + to, from, to);
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
      edge("r_2", "t_a"), edge("t_a", "r_1"),       edge("r_3", "t_a"),
      edge("r_3", "t_a"), edge("g_x", "t_a"),       edge("t_a", "r_gone"),
      edge("t_b", "t_c"), edge("t_self", "t_self"), edge("r_1", "g_x"),
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

TEST(TopicFilesTest, IndexFirstThenOneFilePerSafeTopicListingRecordEndsOnly) {
  std::ostringstream err;
  const graph::Graph graph = sample_graph();
  // On a directory that tells case apart.
  const files::FileNames names([] { return false; });
  topics::TopicFiles made(graph, names, err);
  // Batches of two: each takes up where the last stopped.
  files::OutputFiles files;
  for (auto batch = made.next(2); !batch.empty(); batch = made.next(2)) {
    std::ranges::move(batch, std::back_inserter(files));
  }
  std::vector<std::string> paths;
  for (const auto& file : files) paths.push_back(files::generic_path_text(file.path));
  EXPECT_EQ(paths, (std::vector<std::string>{".system/topics/_index.md", ".system/topics/a.md",
                                             ".system/topics/c.md", ".system/topics/b.md",
                                             ".system/topics/自.md"}));
  const auto texts = testing_support::contents(files);
  // Entry lines follow edge order, from either direction.
  EXPECT_EQ(texts.at(".system/topics/a.md"),
            "# a\n\n> 4次 | 派生自 graph.json\n\n## 出现记录\n\n"
            "- 2026-07-02 周报\n- 2026-07-01 晨会\n- 2026-07-03 复盘\n- 2026-07-03 复盘\n");
  EXPECT_EQ(texts.at(".system/topics/自.md"),
            "# 自\n\n> 0次 | 派生自 graph.json\n\n## 出现记录\n\n（暂无关联记录）\n");
  EXPECT_EQ(texts.at(".system/topics/_index.md"), topics::topics_index_text(sample_graph()));
  EXPECT_EQ(err.str(),
            "[warn] 跳过不安全的路径名: 「../up」\n[warn] 跳过不安全的路径名: 「_index」\n");
  EXPECT_EQ(files[3].failure_prefix, "写入主题文件 b 失败: IO 错误: ");

  // A "/" in a name makes a subdirectory.
  graph::Graph nested;
  nested.nodes = {graph::Topic{"t_项目", "项目/子"}};
  EXPECT_EQ(files::generic_path_text(topics::TopicFiles(nested, names, err).next().back().path),
            ".system/topics/项目/子.md");
}
