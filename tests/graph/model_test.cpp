#include "graph/model.hpp"
#include "graph/graph_file.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "support/graph_text.hpp"
#include "support/memory_file_system.hpp"
#include "support/output_files.hpp"

using namespace graph;

namespace {

std::string mask_stamps(const std::string& text) {
  static const std::regex stamp(R"re(("(version|timestamp)": )"[^"]*")re");
  return std::regex_replace(text, stamp, "$1\"<STAMP>\"");
}

// A valid file with one topic node t_a, plus the given node and edge texts.
std::string file_with(const std::string& node, const std::string& edge = "") {
  return R"({"nodes": [{"type": "topic", "id": "t_a", "name": "a"})" +
         (node.empty() ? "" : ", " + node) + R"(], "edges": [)" + edge + "]}";
}

class GraphFileTest : public ::testing::Test {
 protected:
  GraphFileTest() { memory.make_directory("/ws"); }
  Graph load_text(const std::string& text) {
    memory.write("/ws/.system/graph.json", text);
    store::Workspace workspace("/ws", memory);
    return load_graph(workspace);
  }
  testing_support::MemoryFileSystem memory;
  store::Workspace workspace{"/ws", memory};
};

}  // namespace

TEST_F(GraphFileTest, SavedTextMatchesTheFileFormByteForByte) {
  Graph g;
  g.layout.algorithm = "force";
  g.nodes.push_back(Topic{"t_晨会", "晨会", 42.5f, 17.25f});
  g.nodes.push_back(Goal{"g_工作", "工作", 40, 168.0f, 80.0f});
  g.nodes.push_back(Record{"r_20260702_0900", "2026-07-02", "09:00", "晨会 \"补充\"", 10.0f, 0.8f});
  g.edges.push_back(Edge{"g2t", "g_工作", "t_晨会", 3.0f, EdgeSource::User, true});
  g.edges.push_back(Edge{"dangling", "g_工作", "t_gone", 1.0f, EdgeSource::User, true});
  g.edges.push_back(Edge{"e_x", "r_20260702_0900", "t_晨会", 0.8f, EdgeSource::Llm, false});

  stamp_for_save(g);
  const auto file = graph_file(g);
  EXPECT_EQ(file.path, ".system/graph.json");
  EXPECT_EQ(file.file_class, files::FileClass::State);
  const std::string text = testing_support::bytes_of(file);
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
      "id": "g2t",
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
  EXPECT_EQ(text, testing_support::graph_text(g));
  EXPECT_EQ(load_text(text), g);
}

TEST_F(GraphFileTest, MissingFileSavesAsEmptyGraphWithTwoEqualUtcStamps) {
  auto saved = load_graph(workspace);
  stamp_for_save(saved);
  EXPECT_EQ(mask_stamps(testing_support::bytes_of(graph_file(saved))),
            "{\n  \"version\": \"<STAMP>\",\n  \"nodes\": [],\n  \"edges\": [],\n"
            "  \"layout\": {\n    \"algorithm\": \"\",\n    \"timestamp\": \"<STAMP>\"\n  }\n}");
  EXPECT_EQ(saved.version, saved.layout.timestamp);
  // Shortest exact fraction: a longer form never ends in three zeros.
  static const std::regex rfc3339(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3}|\.\d{3}(?!000)\d{3}|\.\d{6}(?!000)\d{3})?\+00:00)");
  EXPECT_TRUE(std::regex_match(saved.version, rfc3339)) << saved.version;
}

TEST_F(GraphFileTest, DefaultsAndUnknownKeys) {
  // Keys a node's type does not have ("title" of a goal) are unknown keys:
  // repeated or oddly typed, they are skipped like any other.
  const Graph g = load_text(R"( {"extra": {"nodes": 1, "a": [[{}]]}, "extra": 2,
    "layout": {"timestamp": "s", "more": [1, {"x": "y"}]},
    "nodes": [{"id": "g", "name": "n", "title": [1], "title": 2, "date": null, "type": "goal"},
              {"type": "record", "id": "r", "date": "d", "time": "t", "title": "T", "x": -15e1}],
    "edges": [{"id": "e", "from": "g", "to": "r", "note": {"k": []}, "note": 1},
              {"id": "f", "from": "g", "to": "r", "weight": 7, "source": "user", "confirmed": true}]}
	 )");
  EXPECT_EQ(g.version, "");
  EXPECT_EQ(g.layout, (Layout{"", "s"}));
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(g.nodes[0], Node(Goal{"g", "n", 0, 0.0f, 0.0f}));
  EXPECT_EQ(g.nodes[1], Node(Record{"r", "d", "t", "T", -150.0f, 0.0f}));
  ASSERT_EQ(g.edges.size(), 2u);
  EXPECT_EQ(g.edges[0], (Edge{"e", "g", "r", 1.0f, EdgeSource::Llm, false}));
  EXPECT_EQ(g.edges[1], (Edge{"f", "g", "r", 7.0f, EdgeSource::User, true}));
}

TEST_F(GraphFileTest, EveryFlawLosesTheWholeFile) {
  const std::string topic = R"({"type": "topic", "id": "t_b", "name": "b")";
  const std::string edge = R"({"id": "e", "from": "t_a", "to": "t_a")";
  const std::vector<std::string> flawed = {
      "",
      "\xEF\xBB\xBF" + file_with(""),
      file_with("") + " x",
      file_with("") + "\v",
      "{\"nodes\": [], \"edges\": [], \"v\": \"\xFF\"}",
      "[]",
      R"({"nodes": []})",
      R"({"nodes": [], "edges": [], "version": 1})",
      R"({"nodes": [], "edges": [], "layout": {"algorithm": null}})",
      R"({"nodes": [], "nodes": [], "edges": []})",
      R"({"nodes": [], "edges": [], "layout": {"algorithm": "a", "algorithm": "a"}})",
      R"({"nodes": [1], "edges": []})",
      file_with(R"({"id": "t_b", "name": "b"})"),
      file_with(R"({"type": "person", "id": "t_b", "name": "b"})"),
      file_with(topic + R"(, "type": "topic"})"),
      file_with(topic + R"(, "name": "c"})"),
      file_with(R"({"type": "topic", "id": 7, "name": "b"})"),
      file_with(topic + R"(, "x": "1"})"),
      file_with(topic + R"(, "x": null})"),
      file_with(R"({"type": "record", "id": "r", "date": "d", "time": "t"})"),
      file_with(R"({"type": "goal", "id": "g", "name": "n", "progress": 256})"),
      file_with(R"({"type": "goal", "id": "g", "name": "n", "progress": 5.7})"),
      file_with("", R"({"id": "e", "from": "t_a"})"),
      file_with("", edge + R"(, "to": "t_a"})"),
      file_with("", edge + R"(, "source": "bot"})"),
      file_with("", edge + R"(, "confirmed": 1})"),
      file_with("", edge + R"(, "weight": "1"})"),
  };
  for (const auto& text : flawed) EXPECT_EQ(load_text(text), Graph{}) << text;
}

// One absurd coordinate must not be held as infinity: saved as null it would
// lose every node and confirmed link at the next load.
TEST_F(GraphFileTest, NumbersBeyondFloatRangeAreMismatchesNotInfinity) {
  for (const std::string bad : {"1e39", "-1e39", "3.5e38", "1e400"}) {
    EXPECT_EQ(
        load_text(file_with(R"({"type": "topic", "id": "t_b", "name": "b", "x": )" + bad + "}")),
        Graph{})
        << bad;
    EXPECT_EQ(load_text(file_with(
                  "", R"({"id": "e", "from": "t_a", "to": "t_a", "weight": )" + bad + "}")),
              Graph{})
        << bad;
  }
  // The largest float, and a longer decimal that still rounds to it, load.
  const Graph g = load_text(file_with(
      R"({"type": "topic", "id": "t_b", "name": "b", "x": 3.4028235e38, "y": -3.40282356e38})"));
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(std::get<Topic>(g.nodes[1]).x, std::numeric_limits<float>::max());
  EXPECT_EQ(std::get<Topic>(g.nodes[1]).y, -std::numeric_limits<float>::max());
}

// A float is read as decimal to double, then to float: stored files rely on
// that route, which rounds some texts differently from a direct one.
TEST_F(GraphFileTest, FloatsAreReadThroughADouble) {
  const std::pair<const char*, float> cases[] = {
      {"1.0000000596046448", 1.0f},
      {"1e-50", 0.0f},
      {"3.4028235e38", std::numeric_limits<float>::max()}};
  for (const auto& [text, value] : cases) {
    const Graph g = load_text(file_with(
        std::string(R"({"type": "topic", "id": "t_b", "name": "b", "x": )") + text + "}"));
    ASSERT_EQ(g.nodes.size(), 2u) << text;
    EXPECT_EQ(std::get<Topic>(g.nodes[1]).x, value) << text;
  }
}

TEST_F(GraphFileTest, DeepNestingNeitherCrashesNorLoads) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  // Under an unknown key it is skipped; as the node list it is a mismatch.
  EXPECT_EQ(
      load_text(R"({"version": "v", "nodes": [], "edges": [], "junk": )" + deep + "}").version,
      "v");
  EXPECT_EQ(load_text(R"({"nodes": )" + deep + R"(, "edges": []})"), Graph{});
  EXPECT_EQ(load_text(std::string(200000, '{')), Graph{});
}
