#include "graph/ids.hpp"

#include <gtest/gtest.h>

#include <string>

#include "graph/editor.hpp"

using namespace graph;

TEST(IdsTest, SlugKeepsLettersAndNumbersOfAnyScript) {
  EXPECT_EQ(goal_node_id("学习/算法"), "g_学习_算法");
  EXPECT_EQ(slug("---"), "");
  EXPECT_EQ(slug("__a  b__"), "a__b");
  EXPECT_EQ(slug("Café-2"), "Café_2");
  // Nl (Roman numeral) and No (vulgar fraction) stay; symbols do not.
  EXPECT_EQ(slug("Ⅻ½"), "Ⅻ½");
  EXPECT_EQ(slug("（a•b😀）"), "a_b");
  EXPECT_EQ(record_node_id("2026-07-03", "09:30"), "r_20260703_0930");
}

TEST(IdsTest, TopicNamesAreCutPieceByPieceInCharacters) {
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "字";
  EXPECT_EQ(normalize_topic_name(thirty), thirty);
  EXPECT_EQ(normalize_topic_name(thirty + "多"), thirty);
  EXPECT_EQ(normalize_topic_name(std::string(31, 'a') + "/" + thirty + "多/ b "),
            std::string(30, 'a') + "/" + thirty + "/ b ");
  EXPECT_EQ(normalize_topic_name("a//b/"), "a//b/");
}

TEST(IdsTest, DefaultPositionHashesEveryByteAndStacksRows) {
  // Reduced after every byte, not once at the end.
  EXPECT_EQ(default_position("g_工作", 0).x, 168.0f);
  EXPECT_EQ(default_position("r_20260628_1620", 0).x, 95.0f);
  EXPECT_EQ(default_position("t_听力练习", 0).x, 140.0f);
  for (const auto& [n, y] : {std::pair{0, 80.0f}, {1, 150.0f}, {7, 570.0f}, {100000, 640.0f}}) {
    EXPECT_EQ(default_position("x", n).y, y) << n;
  }
}

TEST(UpsertTest, GoalNodeAppendsOnceThenOnlyUpdatesProgress) {
  Graph g;
  g.nodes.push_back(Topic{"g_x", "x", 0, 0});
  GraphEditor editor(std::move(g));
  editor.upsert_goal_node("学习/算法", 0);
  ASSERT_EQ(editor.graph().nodes.size(), 2u);
  EXPECT_EQ(editor.graph().nodes[1], Node(Goal{"g_学习_算法", "学习/算法", 0, 258.0f, 150.0f}));

  std::get<Goal>(*editor.find_node("g_学习_算法")).x = 5;
  editor.upsert_goal_node("学习 算法", 70);  // same id, other name
  // A node of another kind under the id is left alone.
  editor.upsert_goal_node("x", 9);
  g = editor.take();
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(g.nodes[0], Node(Topic{"g_x", "x", 0, 0}));
  EXPECT_EQ(g.nodes[1], Node(Goal{"g_学习_算法", "学习/算法", 70, 5.0f, 150.0f}));
}

TEST(UpsertTest, TopicNodeStoresTheCutNameAndKeepsExistingNodes) {
  Graph g;
  g.nodes.push_back(Topic{"t_项目_A", "项目-A", 1, 2});
  GraphEditor editor(std::move(g));
  EXPECT_EQ(editor.upsert_topic_node("项目 A"), "t_项目_A");
  // The id is made from the cut name, so names alike in their first 30
  // characters share a node.
  EXPECT_EQ(editor.upsert_topic_node(std::string(35, 'b')), "t_" + std::string(30, 'b'));
  EXPECT_EQ(editor.upsert_topic_node(std::string(30, 'b') + "c"), "t_" + std::string(30, 'b'));
  g = editor.take();
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(g.nodes[0], Node(Topic{"t_项目_A", "项目-A", 1, 2}));
  EXPECT_EQ(std::get<Topic>(g.nodes[1]).name, std::string(30, 'b'));
}

TEST(UpsertTest, EdgeMatchesByIdFirstThenByEndsKeepingTheOldId) {
  Graph g;
  g.edges.push_back(Edge{"e1", "a", "b", 1.0f, EdgeSource::Llm, false});
  g.edges.push_back(Edge{"e2", "a", "c", 1.0f, EdgeSource::Llm, false});
  GraphEditor editor(std::move(g));
  // Same id as e1 but the ends of e2: e1 is replaced whole, e2 untouched.
  editor.upsert_edge(Edge{"e1", "a", "c", 2.0f, EdgeSource::User, true});
  // New id, ends a->c: the first edge with those ends (now e1) takes the values.
  editor.upsert_edge(Edge{"e9", "a", "c", 0.5f, EdgeSource::Llm, false});
  editor.upsert_edge(Edge{"e3", "b", "a"});
  g = editor.take();
  ASSERT_EQ(g.edges.size(), 3u);
  EXPECT_EQ(g.edges[0], (Edge{"e1", "a", "c", 0.5f, EdgeSource::Llm, false}));
  EXPECT_EQ(g.edges[1], (Edge{"e2", "a", "c", 1.0f, EdgeSource::Llm, false}));
  EXPECT_EQ(g.edges[2].id(), "e3");
}

TEST(GraphEditorTest, EndIndexFollowsReplacementsAndUpdates) {
  Graph g;
  g.edges.push_back(Edge{"e1", "a", "b", 1.0f, EdgeSource::User, true});
  g.edges.push_back(Edge{"e2", "a", "b", 1.0f, EdgeSource::Llm, true});
  GraphEditor editor(std::move(g));
  EXPECT_TRUE(editor.has_confirmed_user_edge("a", "b"));

  // e1 moves to other ends; a->b keeps only e2, confirmed but not by the user.
  editor.upsert_edge(Edge{"e1", "x", "y", 1.0f, EdgeSource::User, true});
  EXPECT_FALSE(editor.has_confirmed_user_edge("a", "b"));
  EXPECT_TRUE(editor.has_confirmed_edge("a", "b"));
  EXPECT_TRUE(editor.has_confirmed_user_edge("x", "y"));

  // An update through the ends copies the confirmation away.
  editor.upsert_edge(Edge{"new", "a", "b", 4.0f, EdgeSource::Llm, false});
  EXPECT_FALSE(editor.has_confirmed_edge("a", "b"));
  EXPECT_FALSE(editor.has_edge_id(Edge{"new", "x", "y"}));

  // e1 sits before e2 but no longer has their ends: e2 is the first a->b.
  ASSERT_TRUE(editor.set_first_edge_weight("a", "b", 7.0f));
  EXPECT_EQ(editor.take().edges[1], (Edge{"e2", "a", "b", 7.0f, EdgeSource::Llm, false}));
}

TEST(GraphEditorTest, IdsStayFoundAcrossAPruneAndAtomsMadeAfterTheIndex) {
  Graph g;
  g.nodes.push_back(Topic{"a", "a"});
  g.nodes.push_back(Topic{"b", "b"});
  g.edges.push_back(Edge{"dup", "a", "gone"});
  g.edges.push_back(Edge{"keep", "a", "b"});
  g.edges.push_back(Edge{"dup", "b", "a"});
  GraphEditor editor(std::move(g));
  ASSERT_TRUE(editor.has_edge_id(Edge{"dup", "x", "y"}));
  editor.prune_dangling_edges();
  // The pruned edge was the first of its id: the later one takes its place,
  // and is replaced by id, not matched through the ends of "keep".
  editor.upsert_edge(Edge{"dup", "a", "b", 3.0f});
  // Ids interned after the indexes were sized are found like the others.
  const std::string late = "made-after-the-index-" + std::to_string(Atom::count());
  EXPECT_EQ(Atom::find(late), std::nullopt);
  editor.append_node(Topic{late, late});
  ASSERT_NE(editor.find_node(late), nullptr);
  editor.append_edge(Edge{late, late, "a"});
  EXPECT_TRUE(editor.has_edge_id(Edge{late, "x", "y"}));
  const Graph out = editor.take();
  ASSERT_EQ(out.edges.size(), 3u);
  EXPECT_EQ(out.edges[0], (Edge{"keep", "a", "b"}));
  EXPECT_EQ(out.edges[1], (Edge{"dup", "a", "b", 3.0f}));
}

TEST(GraphEditorTest, EndCountsStayExactAsTheIndexGrowsAndIsMadeAgain) {
  Graph g;
  g.nodes.push_back(Topic{"a", "a"});
  g.nodes.push_back(Topic{"b", "b"});
  g.edges.push_back(Edge{"gone", "a", "missing"});
  g.edges.push_back(Edge{"ab", "a", "b", 1.0f, EdgeSource::User, true});
  GraphEditor editor(std::move(g));
  ASSERT_TRUE(editor.has_confirmed_user_edge("a", "b"));
  // Far more pairs than the index was sized for.
  const auto x = [](int i) { return "x" + std::to_string(i); };
  for (int i = 0; i < 5000; ++i) {
    editor.append_edge(
        Edge{"n" + std::to_string(i), "a", x(i), 1.0f, EdgeSource::User, i % 3 == 0});
  }
  for (int i = 0; i < 5000; ++i)
    ASSERT_EQ(editor.has_confirmed_user_edge("a", x(i)), i % 3 == 0) << i;
  // Indexed again after the prune, each pair counts only the edges it has now.
  editor.prune_dangling_edges();
  editor.upsert_edge(Edge{"ab", "a", "b", 1.0f, EdgeSource::Llm, false});
  EXPECT_FALSE(editor.has_confirmed_edge("a", "b"));
  EXPECT_FALSE(editor.has_confirmed_user_edge("a", x(0)));
  EXPECT_EQ(editor.take().edges.size(), 1u);
}

TEST(AtomTest, OneIndexPerTextAndViewsThatOutliveTheTableGrowing) {
  const Atom first("atom-test-text");
  const std::string_view view = first.view();
  for (int i = 0; i < 200'000; ++i) Atom("atom-test-filler-" + std::to_string(i));
  EXPECT_EQ(Atom(std::string("atom-test-") + "text").index(), first.index());
  EXPECT_EQ(view, "atom-test-text");
  EXPECT_EQ(first.view().data(), view.data());
  EXPECT_TRUE(Atom("").empty());
}

TEST(GraphEditorTest, AnIdIsOneIdWhetherHeldAsTextOrAsItsEnds) {
  Graph g;
  // Hand-edited: the standard id of a->b on an edge from c to d.
  g.edges.push_back(Edge{"e_a_b", "c", "d"});
  // Standard ids whose ends hold "_" themselves.
  g.edges.push_back(Edge{"e_r_1_t_x", "r_1", "t_x"});
  g.edges.push_back(Edge{"g2t_g_1_t_x", "g_1", "t_x", 2.0f});
  EXPECT_EQ(g.edges[1].id_form(), EdgeIdForm::RecordLink);
  EXPECT_EQ(g.edges[2].id(), "g2t_g_1_t_x");
  GraphEditor editor(std::move(g));
  // Asked as text, as a hand-edited edge carries it.
  EXPECT_TRUE(editor.has_edge_id(Edge{"e_r_1_t_x", "c", "d"}));
  EXPECT_TRUE(editor.has_edge_id(
      Edge::standard(EdgeIdForm::GoalTopicLink, "g_1", "t_x", 1.0f, EdgeSource::Llm, false)));
  EXPECT_FALSE(editor.has_edge_id(Edge{"e_r_1_t_y", "c", "d"}));
  // The rebuild's link a->b replaces the edge that carries its id as text.
  editor.upsert_edge(
      Edge::standard(EdgeIdForm::RecordLink, "a", "b", 5.0f, EdgeSource::Llm, false));
  editor.upsert_edge(Edge{"e_c_d", "c", "d", 3.0f});
  const Graph out = editor.take();
  ASSERT_EQ(out.edges.size(), 4u);
  EXPECT_EQ(out.edges[0], (Edge{"e_a_b", "a", "b", 5.0f}));
  EXPECT_EQ(out.edges[3], (Edge{"e_c_d", "c", "d", 3.0f}));
}
