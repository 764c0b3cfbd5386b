#include "graph/model.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

using namespace graph;
using testing_support::TempDir;

namespace {

// Replaces the values of "version" and "timestamp" by <STAMP>, as the
// expected files do.
std::string mask_stamps(std::string text) {
  static const std::regex stamp(R"re(("(version|timestamp)": )"[^"]*")re");
  return std::regex_replace(text, stamp, "$1\"<STAMP>\"");
}

class GraphFileTest : public ::testing::Test {
 protected:
  Graph load_text(const std::string& text) {
    dir.write(".system/graph.json", text);
    return load_graph(dir.path());
  }
  TempDir dir;
};

// A small valid file; tests splice variations into it.
std::string file_with(const std::string& node, const std::string& edge = "",
                      const std::string& extra_top = "") {
  std::string nodes = R"({"type": "topic", "id": "t_a", "name": "a"})";
  if (!node.empty()) nodes += ", " + node;
  return "{" + extra_top + R"("nodes": [)" + nodes + R"(], "edges": [)" + edge + "]}";
}

}  // namespace

TEST_F(GraphFileTest, SavedTextMatchesTheFileFormByteForByte) {
  Graph g;
  g.layout.algorithm = "force";
  g.nodes.push_back(Topic{"t_晨会", "晨会", 42.5f, 17.25f});
  g.nodes.push_back(Goal{"g_工作", "工作", 40, 168.0f, 80.0f});
  g.nodes.push_back(Record{"r_20260702_0900", "2026-07-02", "09:00", "晨会 \"补充\"", 10.0f, 0.8f});
  g.edges.push_back(Edge{"g2t_g_工作_t_晨会", "g_工作", "t_晨会", 3.0f, EdgeSource::User, true});
  g.edges.push_back(Edge{"e_x", "r_20260702_0900", "t_晨会", 0.8f, EdgeSource::Llm, false});

  auto saved = save_graph(dir.path(), g);
  ASSERT_TRUE(saved) << saved.error();
  const std::string text = dir.read(".system/graph.json");
  EXPECT_EQ(mask_stamps(text), R"({
  "version": "<STAMP>",
  "nodes": [
    {
      "type": "topic",
      "id": "t_晨会",
      "name": "晨会",
      "x": 42.5,
      "y": 17.25
    },
    {
      "type": "goal",
      "id": "g_工作",
      "name": "工作",
      "progress": 40,
      "x": 168.0,
      "y": 80.0
    },
    {
      "type": "record",
      "id": "r_20260702_0900",
      "date": "2026-07-02",
      "time": "09:00",
      "title": "晨会 \"补充\"",
      "x": 10.0,
      "y": 0.8
    }
  ],
  "edges": [
    {
      "id": "g2t_g_工作_t_晨会",
      "from": "g_工作",
      "to": "t_晨会",
      "weight": 3.0,
      "source": "user",
      "confirmed": true
    },
    {
      "id": "e_x",
      "from": "r_20260702_0900",
      "to": "t_晨会",
      "weight": 0.8,
      "source": "llm",
      "confirmed": false
    }
  ],
  "layout": {
    "algorithm": "force",
    "timestamp": "<STAMP>"
  }
})");
  EXPECT_EQ(text, graph_to_json(*saved));
  // Reading the file back gives exactly the graph save returned.
  EXPECT_EQ(load_graph(dir.path()), *saved);
}

TEST_F(GraphFileTest, MissingFileSavesAsEmptyGraphWithTwoEqualUtcStamps) {
  const Graph empty = load_graph(dir.path());
  EXPECT_EQ(empty, Graph{});
  auto saved = save_graph(dir.path(), empty);
  ASSERT_TRUE(saved) << saved.error();
  EXPECT_EQ(mask_stamps(dir.read(".system/graph.json")),
            "{\n  \"version\": \"<STAMP>\",\n  \"nodes\": [],\n  \"edges\": [],\n"
            "  \"layout\": {\n    \"algorithm\": \"\",\n    \"timestamp\": \"<STAMP>\"\n  }\n}");
  EXPECT_EQ(saved->version, saved->layout.timestamp);
  static const std::regex rfc3339(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?\+00:00)");
  EXPECT_TRUE(std::regex_match(saved->version, rfc3339)) << saved->version;
  // The fraction is the shortest exact one: never a 3-digit group of zeros at
  // the end of a longer fraction.
  const auto dot = saved->version.find('.');
  if (dot != std::string::npos) {
    const std::string fraction = saved->version.substr(dot + 1, saved->version.size() - dot - 7);
    EXPECT_NE(fraction.substr(fraction.size() - 3), "000") << saved->version;
  }
  // The save also lays out the .system directories.
  EXPECT_TRUE(std::filesystem::is_directory(dir / ".system/topics"));
}

TEST_F(GraphFileTest, SaveDropsDanglingEdgesAndKeepsTheOrderOfTheRest) {
  Graph g;
  g.nodes.push_back(Topic{"t_a", "a", 0, 0});
  g.nodes.push_back(Topic{"t_b", "b", 0, 0});
  g.edges.push_back(Edge{"e1", "t_a", "t_b"});
  g.edges.push_back(Edge{"e2", "t_a", "t_gone"});
  g.edges.push_back(Edge{"e3", "t_gone", "t_a"});
  g.edges.push_back(Edge{"e4", "t_b", "t_a"});
  auto saved = save_graph(dir.path(), g);
  ASSERT_TRUE(saved);
  ASSERT_EQ(saved->edges.size(), 2u);
  EXPECT_EQ(saved->edges[0].id, "e1");
  EXPECT_EQ(saved->edges[1].id, "e4");
  EXPECT_EQ(load_graph(dir.path()).edges, saved->edges);
}

TEST_F(GraphFileTest, SaveFailuresCarryTheirTexts) {
  dir.write("file-root", "");
  auto no_dirs = save_graph(dir / "file-root", Graph{});
  ASSERT_FALSE(no_dirs);
  EXPECT_TRUE(no_dirs.error().starts_with("创建 .system 目录失败: ")) << no_dirs.error();

  std::filesystem::create_directories(dir / ".system/graph.json");
  auto no_write = save_graph(dir.path(), Graph{});
  ASSERT_FALSE(no_write);
  EXPECT_TRUE(no_write.error().starts_with("写入 graph.json 失败: IO 错误: ")) << no_write.error();
}

TEST_F(GraphFileTest, AbsentOptionalFieldsTakeTheirDefaults) {
  const Graph g = load_text(file_with(
      R"({"id": "g_x", "name": "x", "type": "goal"},
         {"type": "record", "id": "r", "date": "d", "time": "t", "title": "T", "x": 3})",
      R"({"id": "e", "from": "t_a", "to": "g_x"})"));
  ASSERT_EQ(g.nodes.size(), 3u);
  EXPECT_EQ(g.nodes[1], Node(Goal{"g_x", "x", 0, 0.0f, 0.0f}));
  EXPECT_EQ(g.nodes[2], Node(Record{"r", "d", "t", "T", 3.0f, 0.0f}));
  ASSERT_EQ(g.edges.size(), 1u);
  EXPECT_EQ(g.edges[0], (Edge{"e", "t_a", "g_x", 1.0f, EdgeSource::Llm, false}));
  EXPECT_EQ(g.version, "");
  EXPECT_EQ(g.layout, Layout{});
}

TEST_F(GraphFileTest, UnknownKeysAreSkippedWhateverTheyHold) {
  const Graph g = load_text(R"( {"extra": {"nodes": 1, "a": [[{}], {"b": null}]}, "extra": 2,
    "version": "v", "layout": {"timestamp": "s", "more": [1, {"x": "y"}]},
    "nodes": [{"type": "goal", "id": "g", "name": "n", "progress": 255,
               "title": [1], "title": 2, "date": null, "x": -1.5e2}],
    "edges": [{"id": "e", "from": "g", "to": "g", "note": {"k": []}, "note": 1,
               "weight": 18446744073709551615, "source": "user", "confirmed": true}]}
	 )");
  ASSERT_EQ(g.nodes.size(), 1u);
  EXPECT_EQ(g.nodes[0], Node(Goal{"g", "n", 255, -150.0f, 0.0f}));
  ASSERT_EQ(g.edges.size(), 1u);
  EXPECT_EQ(g.edges[0].weight, 18446744073709551615.0f);
  EXPECT_EQ(g.edges[0].source, EdgeSource::User);
  EXPECT_TRUE(g.edges[0].confirmed);
  EXPECT_EQ(g.version, "v");
  EXPECT_EQ(g.layout, (Layout{"", "s"}));
}

TEST_F(GraphFileTest, EveryFlawLosesTheWholeFile) {
  const std::vector<std::string> flawed = {
      "",
      "\xEF\xBB\xBF" + file_with(""),
      file_with("") + " x",
      file_with("") + "\v",
      "\f" + file_with(""),
      "\xC2\xA0" + file_with(""),
      "[]",
      R"({"nodes": []})",
      R"({"edges": []})",
      R"({"nodes": {}, "edges": []})",
      R"({"nodes": [], "edges": [], "version": 1})",
      R"({"nodes": [], "edges": [], "layout": []})",
      R"({"nodes": [], "edges": [], "layout": {"algorithm": null}})",
      R"({"nodes": [], "nodes": [], "edges": []})",
      R"({"nodes": [], "edges": [], "version": "a", "version": "a"})",
      R"({"nodes": [], "edges": [], "layout": {"algorithm": "a", "algorithm": "a"}})",
      R"({"nodes": [1], "edges": []})",
      R"({"nodes": [], "edges": [[]]})",
      file_with(R"({"id": "t_b", "name": "b"})"),
      file_with(R"({"type": "person", "id": "t_b", "name": "b"})"),
      file_with(R"({"type": "topic", "type": "topic", "id": "t_b", "name": "b"})"),
      file_with(R"({"type": ["topic"], "id": "t_b", "name": "b"})"),
      file_with(R"({"type": "topic", "name": "b"})"),
      file_with(R"({"type": "topic", "id": "t_b", "name": "b", "name": "c"})"),
      file_with(R"({"type": "topic", "id": 7, "name": "b"})"),
      file_with(R"({"type": "topic", "id": "t_b", "name": "b", "x": "1"})"),
      file_with(R"({"type": "topic", "id": "t_b", "name": "b", "x": null})"),
      file_with(R"({"type": "topic", "id": "t_b", "name": "b", "y": true})"),
      file_with(R"({"type": "topic", "id": "t_b", "name": "b", "x": [1]})"),
      file_with(R"({"type": "record", "id": "r", "date": "d", "time": "t"})"),
      file_with(R"({"type": "goal", "id": "g", "name": "n", "progress": 256})"),
      file_with(R"({"type": "goal", "id": "g", "name": "n", "progress": -1})"),
      file_with(R"({"type": "goal", "id": "g", "name": "n", "progress": 5.7})"),
      file_with(R"({"type": "goal", "id": "g", "name": "n", "progress": "5"})"),
      file_with("", R"({"id": "e", "from": "t_a"})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "to": "t_a"})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "source": "bot"})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "source": null})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "confirmed": "true"})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "confirmed": 1})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "weight": "1"})"),
      file_with("", R"({"id": "e", "from": "t_a", "to": ["t_a"]})"),
      "{\"nodes\": [], \"edges\": [], \"v\": \"\xFF\"}",
  };
  for (const auto& text : flawed) {
    EXPECT_EQ(load_text(text), Graph{}) << text;
  }
}

TEST_F(GraphFileTest, KeysOutsideTheNodesTypeAreNotChecked) {
  // A record has no "name" or "progress": repeats and odd values there are
  // unknown keys, not errors.
  const Graph g = load_text(file_with(
      R"({"name": 1, "name": 2, "progress": "x", "type": "record", "id": "r", "date": "d",
          "time": "t", "title": "T"})"));
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(std::get<Record>(g.nodes[1]).title, "T");
}

// One absurd coordinate must not be held as infinity: it would be saved as
// null and lose every node and confirmed link at the next load.
TEST_F(GraphFileTest, NumbersBeyondFloatRangeAreMismatchesNotInfinity) {
  for (const std::string bad : {"1e39", "-1e39", "3.5e38", "1e400"}) {
    EXPECT_EQ(load_text(file_with(R"({"type": "topic", "id": "t_b", "name": "b", "x": )" + bad +
                                  "}")),
              Graph{})
        << bad;
    EXPECT_EQ(load_text(file_with("", R"({"id": "e", "from": "t_a", "to": "t_a", "weight": )" +
                                          bad + "}")),
              Graph{})
        << bad;
  }
  // The largest finite float, and a decimal just above it that still rounds
  // to it, load and save as numbers.
  const Graph g = load_text(file_with(
      R"({"type": "topic", "id": "t_b", "name": "b", "x": 3.4028235e38, "y": -3.40282356e38})"));
  ASSERT_EQ(g.nodes.size(), 2u);
  const auto& topic = std::get<Topic>(g.nodes[1]);
  EXPECT_EQ(topic.x, std::numeric_limits<float>::max());
  EXPECT_EQ(topic.y, -std::numeric_limits<float>::max());
  EXPECT_EQ(graph_to_json(g).find("null"), std::string::npos);
}

TEST_F(GraphFileTest, DeepNestingNeitherCrashesNorLoads) {
  const std::size_t depth = 200000;
  const std::string deep = std::string(depth, '[') + std::string(depth, ']');
  // Skipped under an unknown key, it costs nothing but time.
  EXPECT_EQ(load_text(R"({"version": "v", "nodes": [], "edges": [], "junk": )" + deep + "}").version,
            "v");
  EXPECT_EQ(load_text(R"({"nodes": )" + deep + R"(, "edges": []})"), Graph{});
  EXPECT_EQ(load_text(std::string(depth, '{')), Graph{});
}

TEST(GraphPruneTest, KeepsEdgesBetweenExistingNodesEvenWithRepeatedIds) {
  Graph g;
  g.nodes.push_back(Topic{"t_a", "a", 0, 0});
  g.nodes.push_back(Topic{"t_a", "a2", 0, 0});
  g.edges.push_back(Edge{"e", "t_a", "t_a"});
  g.edges.push_back(Edge{"e", "t_a", ""});
  prune_dangling_edges(g);
  ASSERT_EQ(g.edges.size(), 1u);
  EXPECT_EQ(g.edges[0].to, "t_a");
}
