#include "graph/ids.hpp"

#include <gtest/gtest.h>

#include <string>

#include "graph/editor.hpp"

using namespace graph;

TEST(SlugTest, KeepsLettersAndNumbersOfAnyScriptAndTrimsUnderscores) {
  EXPECT_EQ(slug("项目 A"), "项目_A");
  EXPECT_EQ(slug("学习/算法"), "学习_算法");
  EXPECT_EQ(slug("---"), "");
  EXPECT_EQ(slug(""), "");
  EXPECT_EQ(slug("__a  b__"), "a__b");
  EXPECT_EQ(slug("Café-2"), "Café_2");
  // Nl (Roman numeral), No (vulgar fraction) stay; symbols and emoji do not.
  EXPECT_EQ(slug("Ⅻ½"), "Ⅻ½");
  EXPECT_EQ(slug("a•b😀"), "a_b");
  EXPECT_EQ(slug("（全角）（括号）"), "全角__括号");
}

TEST(IdsTest, SchemeOfEveryKind) {
  EXPECT_EQ(record_node_id("2026-07-03", "09:30"), "r_20260703_0930");
  EXPECT_EQ(goal_node_id("工作"), "g_工作");
  EXPECT_EQ(topic_node_id("项目 A"), "t_项目_A");
  EXPECT_EQ(topic_node_id("---"), "t_");
  EXPECT_EQ(record_edge_id("r_20260703_0930", "g_工作"), "e_r_20260703_0930_g_工作");
  EXPECT_EQ(goal_topic_edge_id("g_工作", "t_项目_A"), "g2t_g_工作_t_项目_A");
}

TEST(IdsTest, TopicNamesAreCutPieceByPieceInCharacters) {
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "字";
  EXPECT_EQ(normalize_topic_name(thirty), thirty);
  EXPECT_EQ(normalize_topic_name(thirty + "多"), thirty);
  EXPECT_EQ(normalize_topic_name(std::string(40, 'a')), std::string(30, 'a'));
  EXPECT_EQ(normalize_topic_name(std::string(31, 'a') + "/" + thirty + "多/b"),
            std::string(30, 'a') + "/" + thirty + "/b");
  EXPECT_EQ(normalize_topic_name("a//b"), "a//b");
  EXPECT_EQ(normalize_topic_name("a/"), "a/");
  EXPECT_EQ(normalize_topic_name(" a "), " a ");
  // The id follows the cut name, so names that differ only past the cut meet.
  EXPECT_EQ(topic_node_id(thirty + "甲"), topic_node_id(thirty + "乙"));
}

TEST(IdsTest, TitleFromFileName) {
  EXPECT_EQ(node_title_from_file_name("2026-07-03-周会纪要.md"), "周会纪要");
  EXPECT_EQ(node_title_from_file_name("note.md"), std::nullopt);
  EXPECT_EQ(node_title_from_file_name("2026-07-03-a.md"), "a");
  EXPECT_EQ(node_title_from_file_name("2026-07-03-.md"), std::nullopt);
  EXPECT_EQ(node_title_from_file_name("2026-07-03-周会纪要.txt"), std::nullopt);
  // Byte 11 inside a character: no title rather than a broken one.
  EXPECT_EQ(node_title_from_file_name("2026-07-0周会纪要.md"), std::nullopt);
}

TEST(IdsTest, DefaultPositionHashesEveryByteAndStacksRows) {
  // The hash is reduced after every byte; values as the application places them.
  EXPECT_EQ(default_position("g_工作", 0).x, 168.0f);
  EXPECT_EQ(default_position("g_学习_算法", 0).x, 258.0f);
  EXPECT_EQ(default_position("r_20260628_1620", 0).x, 95.0f);
  EXPECT_EQ(default_position("t_听力练习", 0).x, 140.0f);
  EXPECT_EQ(default_position("", 0).x, 80.0f);
  EXPECT_EQ(default_position("x", 0).y, 80.0f);
  EXPECT_EQ(default_position("x", 1).y, 150.0f);
  EXPECT_EQ(default_position("x", 7).y, 570.0f);
  EXPECT_EQ(default_position("x", 8).y, 640.0f);
  EXPECT_EQ(default_position("x", 100000).y, 640.0f);
}

TEST(UpsertTest, GoalNodeAppendsOnceThenOnlyUpdatesProgress) {
  Graph g;
  g.nodes.push_back(Topic{"t_a", "a", 1, 2});
  upsert_goal_node(g, "学习/算法", 0);
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(g.nodes[1], Node(Goal{"g_学习_算法", "学习/算法", 0, 258.0f, 150.0f}));

  std::get<Goal>(g.nodes[1]).x = 5;
  upsert_goal_node(g, "学习 算法", 70);  // same id, other name
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(g.nodes[1], Node(Goal{"g_学习_算法", "学习/算法", 70, 5.0f, 150.0f}));

  // A node of another kind under the id is left alone and nothing is added.
  g.nodes.push_back(Topic{"g_x", "x", 0, 0});
  upsert_goal_node(g, "x", 9);
  ASSERT_EQ(g.nodes.size(), 3u);
  EXPECT_EQ(g.nodes[2], Node(Topic{"g_x", "x", 0, 0}));
}

TEST(UpsertTest, TopicNodeKeepsAnExistingNodeUntouched) {
  Graph g;
  g.nodes.push_back(Topic{"t_项目_A", "项目-A", 1, 2});
  EXPECT_EQ(upsert_topic_node(g, "项目 A"), "t_项目_A");
  ASSERT_EQ(g.nodes.size(), 1u);
  EXPECT_EQ(g.nodes[0], Node(Topic{"t_项目_A", "项目-A", 1, 2}));

  const std::string long_name(35, 'b');
  EXPECT_EQ(upsert_topic_node(g, long_name), "t_" + std::string(30, 'b'));
  ASSERT_EQ(g.nodes.size(), 2u);
  EXPECT_EQ(std::get<Topic>(g.nodes[1]).name, std::string(30, 'b'));
  EXPECT_EQ(std::get<Topic>(g.nodes[1]).y, 150.0f);
}

TEST(UpsertTest, EdgeMatchesByIdFirstThenByEndsKeepingTheOldId) {
  Graph g;
  g.edges.push_back(Edge{"e1", "a", "b", 1.0f, EdgeSource::Llm, false});
  g.edges.push_back(Edge{"e2", "a", "c", 1.0f, EdgeSource::Llm, false});

  // Same id as e1 but the ends of e2: e1 is replaced whole, e2 untouched.
  upsert_edge(g, Edge{"e1", "a", "c", 2.0f, EdgeSource::User, true});
  ASSERT_EQ(g.edges.size(), 2u);
  EXPECT_EQ(g.edges[0], (Edge{"e1", "a", "c", 2.0f, EdgeSource::User, true}));
  EXPECT_EQ(g.edges[1], (Edge{"e2", "a", "c", 1.0f, EdgeSource::Llm, false}));

  // New id, ends a->c: the first edge with those ends (now e1) takes the values.
  upsert_edge(g, Edge{"e9", "a", "c", 0.5f, EdgeSource::Llm, false});
  ASSERT_EQ(g.edges.size(), 2u);
  EXPECT_EQ(g.edges[0], (Edge{"e1", "a", "c", 0.5f, EdgeSource::Llm, false}));

  upsert_edge(g, Edge{"e3", "b", "a"});
  ASSERT_EQ(g.edges.size(), 3u);
  EXPECT_EQ(g.edges[2].id, "e3");
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

  // An update through the ends clears the confirmation it copies over.
  editor.upsert_edge(Edge{"new", "a", "b", 4.0f, EdgeSource::Llm, false});
  EXPECT_FALSE(editor.has_confirmed_edge("a", "b"));
  EXPECT_FALSE(editor.has_edge_id("new"));

  // e1 now sits before e2 but no longer has their ends: e2 is the first a->b.
  ASSERT_TRUE(editor.set_first_edge_weight("a", "b", 7.0f));
  EXPECT_FALSE(editor.set_first_edge_weight("b", "a", 7.0f));
  const Graph out = editor.take();
  EXPECT_EQ(out.edges[1], (Edge{"e2", "a", "b", 7.0f, EdgeSource::Llm, false}));
}

TEST(GraphEditorTest, EndsWithSeparatorLikeBytesDoNotCollide) {
  Graph g;
  g.edges.push_back(Edge{"e1", std::string("a\0b", 3), "c", 1.0f, EdgeSource::User, true});
  GraphEditor editor(std::move(g));
  EXPECT_FALSE(editor.has_confirmed_edge("a", std::string("b\0c", 3)));
  EXPECT_TRUE(editor.has_confirmed_edge(std::string("a\0b", 3), "c"));
}
