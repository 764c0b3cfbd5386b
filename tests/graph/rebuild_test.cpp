#include "graph/rebuild.hpp"
#include "graph/graph_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graph/ids.hpp"
#include "support/graph_text.hpp"
#include "support/memory_file_system.hpp"

using namespace graph;
using journal::JournalEntry;

namespace {

JournalEntry record(std::string time, std::string file_name, std::vector<std::string> topics,
                    std::optional<std::string> goal = {}) {
  JournalEntry e;
  e.date = "2026-07-03";
  e.time = std::move(time);
  e.title = "own title";
  e.file_name = std::move(file_name);
  e.topics = std::move(topics);
  e.goal = std::move(goal);
  return e;
}

std::optional<Edge> find_edge(const Graph& g, std::string_view id) {
  for (const auto& e : g.edges) {
    if (e.id() == id) return e;
  }
  return std::nullopt;
}

std::size_t count_edges(const Graph& g, std::string_view from, std::string_view to) {
  std::size_t n = 0;
  for (const auto& e : g.edges) n += e.from == from && e.to == to;
  return n;
}

const std::string kRid = "r_20260703_0930";
const std::filesystem::path kRoot = "/ws";

class RebuildTest : public ::testing::Test {
 protected:
  RebuildTest() { memory.make_directory(kRoot); }
  void write(const std::filesystem::path& relative, std::string text) {
    memory.write(kRoot / relative, std::move(text));
  }
  // Stores `g` as the previous run's file.
  void seed(const Graph& g) { write(".system/graph.json", testing_support::graph_text(g)); }

  // One rebuild as a run does it: from the files, and as it is saved.
  Graph rebuild(const std::vector<JournalEntry>& records, const std::vector<GoalSeed>& goals) {
    store::Workspace run(kRoot, memory);
    auto previous = load_graph(run);
    Graph graph =
        rebuild_and_complete(std::move(previous), records, goals, load_record_topics(run)).graph;
    stamp_for_save(graph);
    return graph;
  }

  testing_support::MemoryFileSystem memory;
};

}  // namespace

TEST_F(RebuildTest, KeepsTopicNodesAndTheirLinksAndRegeneratesTheRest) {
  Graph old;
  old.layout.algorithm = "force";
  old.nodes.push_back(Record{"r_20260101_0000", "2026-01-01", "00:00", "gone", 5, 5});
  old.nodes.push_back(Topic{"t_旧", "旧 名", 1.5f, 2.5f});
  old.nodes.push_back(Goal{"g_工作", "工作", 40, 7, 7});
  old.nodes.push_back(Topic{"t_新", "新", 3, 4});
  old.edges.push_back(Edge{"r2g", "r_20260101_0000", "g_工作", 1, EdgeSource::User, true});
  old.edges.push_back(Edge{"t2t", "t_旧", "t_新", 0.5f, EdgeSource::Llm, false});
  old.edges.push_back(Edge{"r2t", "r_20260101_0000", "t_新", 1, EdgeSource::User, true});
  seed(old);

  const Graph g =
      rebuild({record("09:30", "2026-07-03-周会纪要.md", {"新"}, "工作")}, {{"工作", 0}});
  // Topics first, as they were; the goal returns at a fresh place, progress 0.
  ASSERT_EQ(g.nodes.size(), 4u);
  EXPECT_EQ(g.nodes[0], Node(Topic{"t_旧", "旧 名", 1.5f, 2.5f}));
  EXPECT_EQ(g.nodes[1], Node(Topic{"t_新", "新", 3, 4}));
  EXPECT_EQ(g.nodes[2], Node(Goal{"g_工作", "工作", 0, 168.0f, 220.0f}));
  EXPECT_EQ(std::get<Record>(g.nodes[3]).title, "周会纪要");
  EXPECT_EQ(g.layout.algorithm, "force");
  // r2g goes with the node list, r2t at the save (its record is gone).
  std::vector<std::string> ids;
  for (const auto& e : g.edges) ids.push_back(e.id());
  EXPECT_EQ(ids, (std::vector<std::string>{"t2t", "e_r_20260703_0930_g_工作",
                                           "e_r_20260703_0930_t_新", "g2t_g_工作_t_新"}));
}

TEST_F(RebuildTest, RecordsSharingAMinuteShareOneNode) {
  const Graph g =
      rebuild({record("09:30", "2026-07-03-周会.md", {}), record("09:30", "note.md", {})}, {});
  // Named by the later record, placed where the first was put.
  const Position first = default_position(kRid, 0);
  ASSERT_EQ(g.nodes.size(), 1u);
  EXPECT_EQ(g.nodes[0], Node(Record{kRid, "2026-07-03", "09:30", "own title", first.x, first.y}));
}

TEST_F(RebuildTest, GoalLinkNeedsTheGoalNodeOfTheTextBeforeTheSlash) {
  const Graph g = rebuild({record("09:30", "a.md", {"项目 A"}, "工作/日报"),
                           record("10:30", "b.md", {"项目 A"}, "学习/英语")},
                          {{"工作", 0}, {"学习/英语", 0}});
  EXPECT_TRUE(find_edge(g, "e_r_20260703_0930_g_工作"));
  // No node g_学习: no goal link and no count for the second record.
  EXPECT_EQ(count_edges(g, "r_20260703_1030", "g_学习_英语"), 0u);
  EXPECT_EQ(count_edges(g, "g_学习_英语", "t_项目_A"), 0u);
  EXPECT_EQ(find_edge(g, "g2t_g_工作_t_项目_A"),
            (Edge{"g2t_g_工作_t_项目_A", "g_工作", "t_项目_A", 1, EdgeSource::Llm, false}));
}

TEST_F(RebuildTest, GoalTopicWeightsCountCooccurrencesUnlessTheUserConfirmed) {
  Graph old;
  old.nodes.push_back(Goal{"g_工作", "工作", 0, 0, 0});
  for (const char* name : {"甲", "乙", "丙"}) {
    old.nodes.push_back(Topic{std::string("t_") + name, name, 0, 0});
  }
  old.edges.push_back(Edge{"mine", "g_工作", "t_甲", 9, EdgeSource::User, true});
  old.edges.push_back(Edge{"other-id", "g_工作", "t_乙", 9, EdgeSource::User, false});
  old.edges.push_back(Edge{"llm-confirmed", "g_工作", "t_丙", 9, EdgeSource::Llm, true});
  seed(old);

  std::vector<JournalEntry> records;
  for (const char* time : {"09:00", "10:00", "11:00"}) {
    records.push_back(record(time, "x.md", {"丁", "甲", "乙", "丙"}, "工作"));
  }
  records.push_back(record("12:00", "y.md", {"戊"}, "工作"));
  const Graph g = rebuild(records, {{"工作", 0}});

  EXPECT_EQ(find_edge(g, "mine"), old.edges[0]);
  EXPECT_EQ(find_edge(g, "other-id"),
            (Edge{"other-id", "g_工作", "t_乙", 3, EdgeSource::User, false}));
  EXPECT_EQ(find_edge(g, "llm-confirmed"),
            (Edge{"llm-confirmed", "g_工作", "t_丙", 3, EdgeSource::Llm, true}));
  EXPECT_EQ(count_edges(g, "g_工作", "t_乙"), 1u);
  // New goal-topic edges follow the order in which the pairs first met.
  ASSERT_GE(g.edges.size(), 2u);
  EXPECT_EQ(g.edges[g.edges.size() - 2],
            (Edge{"g2t_g_工作_t_丁", "g_工作", "t_丁", 3, EdgeSource::Llm, false}));
  EXPECT_EQ(g.edges.back(), (Edge{"g2t_g_工作_t_戊", "g_工作", "t_戊", 1, EdgeSource::Llm, false}));
}

TEST_F(RebuildTest, ConfirmedRecordTopicLinksSurviveUnderEitherId) {
  Graph old;
  old.nodes.push_back(Record{kRid, "2026-07-03", "09:30", "", 0, 0});
  for (const char* name : {"甲", "乙", "丙"}) {
    old.nodes.push_back(Topic{std::string("t_") + name, name, 0, 0});
  }
  old.edges.push_back(Edge{"e_r_20260703_0930_t_甲", kRid, "t_甲", 2, EdgeSource::User, true});
  old.edges.push_back(Edge{"user-link", kRid, "t_乙", 2, EdgeSource::User, true});
  old.edges.push_back(Edge{"e_r_20260703_0930_t_丙", kRid, "t_丙", 0.3f, EdgeSource::User, false});
  seed(old);

  const Graph g = rebuild({record("09:30", "a.md", {"甲", "乙", "丙"})}, {});
  // The unconfirmed link is regenerated; the standard id was missing for 乙, so
  // the completion adds it after the rebuild's links, unconfirmed.
  EXPECT_EQ(g.edges,
            (std::vector<Edge>{
                old.edges[0], old.edges[1],
                Edge{"e_r_20260703_0930_t_丙", kRid, "t_丙", 1, EdgeSource::Llm, false},
                Edge{"e_r_20260703_0930_t_乙", kRid, "t_乙", 0.8f, EdgeSource::Llm, false}}));
}

// A map name the user linked under their own id gets no standard link: the
// completion fills in only for the record's own names.
TEST_F(RebuildTest, MapNamesComeFirstButOnlyTheRebuildReadsTheMap) {
  Graph old;
  old.nodes.push_back(Topic{"t_戊", "戊", 0, 0});
  old.edges.push_back(Edge{"user-link", kRid, "t_戊", 1, EdgeSource::User, true});
  seed(old);
  write(".system/record_topics.json", R"({"a.md": ["乙", "甲", "乙", "戊"], "gone.md": ["丙"]})");
  const Graph g = rebuild({record("09:30", "a.md", {"甲", "丁"})}, {});
  std::vector<std::string> names, edges;
  for (const auto& n : g.nodes) {
    if (const auto* t = std::get_if<Topic>(&n)) names.push_back(t->name.str());
  }
  for (const auto& e : g.edges) edges.push_back(e.id());
  EXPECT_EQ(names, (std::vector<std::string>{"戊", "乙", "甲", "丁"}));
  EXPECT_EQ(edges, (std::vector<std::string>{"user-link", "e_r_20260703_0930_t_乙",
                                             "e_r_20260703_0930_t_甲", "e_r_20260703_0930_t_丁"}));
}

// The completion works on the indexes of the rebuild; an edge the rebuild drops
// as dangling must not hide the standard id from it, even when it carries that
// id or shares it with an edge that stays.
TEST(RebuildAndCompleteTest, DroppedEdgesHideNoIdFromTheCompletion) {
  Graph previous;
  previous.nodes = {Topic{"t_甲", "甲", 1, 2}, Topic{"t_乙", "乙", 3, 4}};
  previous.edges = {
      {"e_r_20260703_0930_t_甲", "t_甲", "r_gone", 1.0f, EdgeSource::User, true},
      {"e_r_20260703_0930_t_乙", "t_乙", "r_gone", 1.0f, EdgeSource::User, true},
      {"twice", "t_乙", "r_gone", 1.0f, EdgeSource::User, true},
      {"twice", "t_甲", "t_乙", 2.0f, EdgeSource::User, true},
      {"user", kRid, "t_乙", 1.0f, EdgeSource::User, true},
  };
  const std::vector<JournalEntry> records = {record("09:30", "a.md", {"甲", "乙"}, "工作")};
  const std::vector<GoalSeed> goals = {{"工作", 0}};
  const RecordTopics map = {{"a.md", {"丙"}}};

  const Graph g = rebuild_and_complete(previous, records, goals, map).graph;
  std::vector<std::string> ids;
  for (const auto& e : g.edges) ids.push_back(e.id());
  // The rebuild's link to 甲 takes the place of the dropped edge under its id;
  // the user's link to 乙 stays, and the completion adds the standard one.
  EXPECT_EQ(ids, (std::vector<std::string>{"e_r_20260703_0930_t_甲", "twice", "user",
                                           "e_r_20260703_0930_g_工作", "e_r_20260703_0930_t_丙",
                                           "g2t_g_工作_t_丙", "g2t_g_工作_t_甲", "g2t_g_工作_t_乙",
                                           "e_r_20260703_0930_t_乙"}));
  EXPECT_EQ(g.edges[0], (Edge{"e_r_20260703_0930_t_甲", kRid, "t_甲", 1, EdgeSource::Llm, false}));
  EXPECT_EQ(g.edges[1].from, "t_甲");
  EXPECT_EQ(g.edges.back().weight, 0.8f);
}

// Nodes of skipped dates that no record regenerates follow the rebuild's
// nodes, in loaded order; their links that the rebuild did not keep follow
// its links and come before the completion's; a link to a goal now gone and
// a record on a date nothing covers go as before.
TEST(CarryOverTest, KeepsSkippedRecordsAfterWhatTheRebuildMakes) {
  Graph previous;
  previous.nodes = {Record{"r_20260702_0800", "2026-07-02", "08:00", "skipped b", 3, 4},
                    Record{kRid, "2026-07-03", "09:30", "regenerated", 1, 1},
                    Record{"r_20260601_0800", "2026-06-01", "08:00", "whole month", 5, 6},
                    Record{"r_20260501_0800", "2026-05-01", "08:00", "deleted", 7, 8},
                    Topic{"t_甲", "甲", 0, 0}};
  previous.edges = {{"to-topic", "r_20260702_0800", "t_甲", 1.0f, EdgeSource::User, true},
                    {"mine", kRid, "t_甲", 1.0f, EdgeSource::User, true},
                    {"to-goal", "r_20260601_0800", "g_工作", 1.0f, EdgeSource::User, true},
                    {"to-gone-goal", "r_20260702_0800", "g_旧", 1.0f, EdgeSource::User, true},
                    {"between", "r_20260601_0800", "r_20260702_0800", 0.5f, EdgeSource::Llm, false},
                    {"deleted", "r_20260501_0800", "g_工作", 1.0f, EdgeSource::User, true}};
  journal::SkippedDates skipped;
  skipped.dates = {"2026-07-02", "2026-07-03"};
  skipped.months = {"2026-06"};
  const std::vector<JournalEntry> records = {record("09:30", "a.md", {"甲"}, "工作")};
  const auto rebuilt = rebuild_and_complete(previous, records, {{"工作", 0}}, {}, skipped);
  EXPECT_EQ(rebuilt.carried_records, 2u);
  std::vector<std::string> nodes, edges;
  for (const auto& node : rebuilt.graph.nodes) nodes.emplace_back(node_id(node));
  for (const auto& edge : rebuilt.graph.edges) edges.push_back(edge.id());
  EXPECT_EQ(nodes, (std::vector<std::string>{"t_甲", "g_工作", kRid, "r_20260702_0800",
                                             "r_20260601_0800"}));
  EXPECT_EQ(edges, (std::vector<std::string>{"to-topic", "mine", "e_r_20260703_0930_g_工作",
                                             "g2t_g_工作_t_甲", "to-goal", "between",
                                             "e_r_20260703_0930_t_甲"}));
  EXPECT_EQ(std::get<Record>(rebuilt.graph.nodes[3]), std::get<Record>(previous.nodes[0]));
}
