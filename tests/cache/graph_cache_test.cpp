#include "cache/graph_cache.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "graph/graph_file.hpp"
#include "support/graph_text.hpp"
#include "support/memory_file_system.hpp"
#include "util/content_hash.hpp"

namespace {

using namespace graph;

// Every kind of node and edge id, strings a file escapes, and floats whose
// text is long or odd: what a kept graph gives must be what parsing the file
// it stands for gives.
Graph varied_graph() {
  Graph g;
  g.version = "2026-07-02T09:00:00+00:00";
  g.layout = {"force", "2026-07-02T09:00:00.5+00:00"};
  g.nodes.push_back(Topic{"t_晨会", "晨会 \"引\"\n\\", 0.1f, -0.0f});
  g.nodes.push_back(Goal{"g_工作", "工作", 40, std::numeric_limits<float>::denorm_min(), 3e38f});
  g.nodes.push_back(Record{"r_20260702_0900", "2026-07-02", "09:00", "标题", 1.0f / 3.0f, -7.25f});
  g.nodes.push_back(Record{"r_20260702_0901", "2026-07-02", "09:01", "", 16777217.0f, 1e-30f});
  g.edges.push_back(Edge{"e_r_20260702_0900_t_晨会", "r_20260702_0900", "t_晨会", 0.8f});
  g.edges.push_back(Edge{"g2t_g_工作_t_晨会", "g_工作", "t_晨会", 3.0f});
  g.edges.push_back(Edge{"mine", "g_工作", "r_20260702_0901", 0.3f, EdgeSource::User, true});
  g.edges.push_back(Edge{"e_x", "r_20260702_0900", "t_gone", 1.0f});
  return g;
}

TEST(GraphCacheTest, AKeptGraphIsWhatParsingItsFileGives) {
  const Graph graph = varied_graph();
  const std::string text = testing_support::graph_text(graph);
  const auto parsed = testing_support::parse_graph(text);
  ASSERT_TRUE(parsed.has_value());
  const auto held = cache::HeldGraph::of(cache::encode_graph(graph, hashing::content_hash(text)));
  ASSERT_TRUE(held.has_value());
  EXPECT_EQ(held->file_hash(), hashing::content_hash(text));
  EXPECT_EQ(held->decode(), parsed);
  EXPECT_EQ(testing_support::graph_text(*held->decode()), text);
}

TEST(GraphCacheTest, AnyDamageIsRefused) {
  const std::string bytes = cache::encode_graph(varied_graph(), 42);
  ASSERT_EQ(cache::HeldGraph::file_hash_of(bytes.substr(0, cache::HeldGraph::kHeadBytes)), 42u);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(cache::HeldGraph::of(bytes.substr(0, size)).has_value()) << "cut at " << size;
  }
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    auto flipped = bytes;
    flipped[at] ^= 0x01;
    EXPECT_FALSE(cache::HeldGraph::of(flipped).has_value()) << "flipped at " << at;
  }
}

// The kept graph stands in only for the very bytes it was kept for; an edit
// of graph.json that keeps its size and times is still read.
TEST(GraphCacheTest, TheFileIsParsedUnlessItHoldsTheKeptBytes) {
  testing_support::MemoryFileSystem memory;
  memory.make_directory("/ws");
  const std::string text = testing_support::graph_text(varied_graph());
  memory.write("/ws/.system/graph.json", text);
  int taken = 0;
  Graph stand_in;
  stand_in.version = "kept";
  const KnownGraph known{hashing::content_hash(text), [&]() -> std::optional<Graph> {
                           ++taken;
                           return stand_in;
                         }};
  store::Workspace workspace("/ws", memory);
  EXPECT_EQ(load_graph(workspace, &known), stand_in);
  EXPECT_EQ(workspace.inputs().all().at(".system/graph.json").hash, known.file_hash);

  std::string edited = text;
  edited[edited.find("force")] = 'F';
  memory.write("/ws/.system/graph.json", edited);
  store::Workspace again("/ws", memory);
  const Graph loaded = load_graph(again, &known);
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(loaded.layout.algorithm, "Force");
  EXPECT_EQ(again.inputs().all().at(".system/graph.json").hash, hashing::content_hash(edited));
}

}  // namespace
