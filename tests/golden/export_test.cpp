#include "golden/export.hpp"

#include <gtest/gtest.h>

#include "support/output_files.hpp"

namespace {

journal::JournalEntry record(std::string file_name, std::optional<std::string> goal,
                             std::vector<std::string> topics) {
  journal::JournalEntry entry;
  entry.file_name = std::move(file_name);
  entry.goal = std::move(goal);
  entry.topics = std::move(topics);
  return entry;
}

TEST(GoldenTest, SortedFilesInAWorkspaceSubdirectory) {
  std::string long_name;
  for (int i = 0; i < 31; ++i) long_name += "题";
  const std::string cut = long_name.substr(0, 90);
  const std::vector<journal::JournalEntry> records = {
      record("2026-07-03-b.md", "工作/日报", {long_name, "a/b"}),
      record("2026-07-03-a.md", std::nullopt, {}),
      record("2026-07-03-b.md", "工作", {cut}),  // same name, later record wins
  };
  graph::Graph graph;
  graph.nodes.push_back(graph::Goal{"g_工作", "工作", 0, 1.0f, 2.0f});
  graph.edges.push_back(graph::Edge{"e", "r", "g_工作", 1.0f, graph::EdgeSource::User, true});

  const auto files = golden::golden_files("out", records, {"工作", "工作/日报"}, graph);
  for (const auto& file : files) EXPECT_EQ(file.file_class, files::FileClass::Golden);
  EXPECT_EQ(files.at(1).failure_prefix, "写入 out/workspace/goals_expected.json 失败: ");
  const auto texts = testing_support::contents(files);
  EXPECT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts.at("workspace/records_expected.json"),
            "{\n"
            "  \"__meta\": {\n"
            "    \"known_limit\": \"records are document-inventory format (no ratings/narrative); "
            "ratings all 0\",\n"
            "    \"record_count\": 3,\n"
            "    \"rule\": \"goal = record's 分类 field; topics = 相对路径 2nd-level segment\",\n"
            "    \"source\": \"backfill-workspace --emit-golden\",\n"
            "    \"workspace\": \"notes/workspace\"\n"
            "  },\n"
            "  \"records\": {\n"
            "    \"2026-07-03-a.md\": {\n"
            "      \"goal\": null,\n"
            "      \"topics\": []\n"
            "    },\n"
            "    \"2026-07-03-b.md\": {\n"
            "      \"goal\": \"工作\",\n"
            "      \"topics\": [\n"
            "        \"" +
                cut +
                "\"\n"
                "      ]\n"
                "    }\n"
                "  }\n"
                "}");
  EXPECT_EQ(texts.at("workspace/goals_expected.json"),
            "{\n  \"__meta\": {\n    \"goal_count\": 2\n  },\n  \"goals\": {\n    \"工作\": 1,\n"
            "    \"工作/日报\": 1\n  }\n}");
  EXPECT_EQ(
      texts.at("workspace/topics_expected.json"),
      "{\n"
      "  \"__meta\": {\n"
      "    \"rule\": \"topic name normalized via 30-char truncation (plans/v1/12 + v2/12)\",\n"
      "    \"topic_count\": 2\n"
      "  },\n"
      "  \"topics\": {\n"
      "    \"a/b\": {\n      \"count\": 1,\n      \"raw_names\": [\n        \"a/b\"\n      ]\n    "
      "},\n"
      "    \"" +
          cut +
          "\": {\n      \"count\": 2,\n      \"raw_names\": [\n"
          "        \"" +
          long_name + "\",\n        \"" + cut +
          "\"\n      ]\n    }\n"
          "  }\n"
          "}");
  EXPECT_EQ(texts.at("workspace/graph_expected.json"),
            "{\n  \"__meta\": {\n    \"edge_count\": 1,\n    \"nodes\": {\n      \"goal\": 1,\n"
            "      \"record\": 0,\n      \"topic\": 0,\n      \"total\": 1\n    }\n  },\n"
            "  \"edges\": [\n    {\n      \"confirmed\": true,\n      \"from\": \"r\",\n"
            "      \"source\": \"user\",\n      \"to\": \"g_工作\"\n    }\n  ]\n}");
  const auto readme = texts.at("workspace/README.md");
  EXPECT_EQ(std::count(readme.begin(), readme.end(), '\n'), 34);
  EXPECT_TRUE(readme.starts_with("# Golden expected-set — notes/workspace\n\n"));
  EXPECT_TRUE(
      readme.ends_with("rule-derived, not authored — they serve as structural reference only.\n"));
}

TEST(GoldenTest, EmptyGraph) {
  EXPECT_EQ(testing_support::bytes_of(golden::golden_files("g", {}, {}, graph::Graph{}).at(3)),
            "{\n  \"__meta\": {\n    \"edge_count\": 0,\n    \"nodes\": {\n      \"goal\": 0,\n"
            "      \"record\": 0,\n      \"topic\": 0,\n      \"total\": 0\n    }\n  },\n"
            "  \"edges\": []\n}");
}

}  // namespace
