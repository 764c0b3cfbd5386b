#include "graph/rebuild.hpp"

#include "util/interrupt.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "graph/editor.hpp"
#include "graph/ids.hpp"
#include "graph/record_topics.hpp"

namespace graph {

namespace {

// Counts of (goal id, topic id) pairs, walked in the order each pair first
// occurred so that new goal-topic edges are appended in a stable order.
class Cooccurrences {
 public:
  struct Pair {
    std::string goal_id;
    std::string topic_id;
    std::uint32_t count = 0;
  };

  void add(const std::string& goal_id, const std::string& topic_id) {
    // A length prefix keeps ("ab","c") and ("a","bc") apart.
    std::string key = std::to_string(goal_id.size());
    key.push_back(':');
    key.append(goal_id).append(topic_id);
    const auto [it, inserted] = index_.try_emplace(std::move(key), pairs_.size());
    if (inserted) pairs_.push_back({goal_id, topic_id, 0});
    ++pairs_[it->second].count;
  }

  const std::vector<Pair>& in_first_order() const { return pairs_; }

 private:
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<Pair> pairs_;
};

// Only topic nodes and the links touching them survive from the loaded file.
// They move into lists with room for `nodes` and `edges` more, and the loaded
// lists go at once, so the two never stand side by side at full size.
Graph keep_topics(Graph loaded, std::size_t nodes, std::size_t edges) {
  std::unordered_set<std::string_view> topic_ids;
  std::size_t kept_nodes = 0;
  for (const auto& node : loaded.nodes) {
    if (const auto* topic = std::get_if<Topic>(&node)) {
      topic_ids.insert(topic->id);
      ++kept_nodes;
    }
  }
  const auto touches_topic = [&](const Edge& e) {
    return topic_ids.contains(e.from) || topic_ids.contains(e.to);
  };
  Graph kept;
  kept.version = std::move(loaded.version);
  kept.layout = std::move(loaded.layout);
  kept.edges.reserve(static_cast<std::size_t>(std::ranges::count_if(loaded.edges, touches_topic)) +
                     edges);
  for (auto& edge : loaded.edges) {
    if (touches_topic(edge)) kept.edges.push_back(std::move(edge));
  }
  loaded.edges = {};
  topic_ids.clear();
  kept.nodes.reserve(kept_nodes + nodes);
  for (auto& node : loaded.nodes) {
    if (std::holds_alternative<Topic>(node)) kept.nodes.push_back(std::move(node));
  }
  return kept;
}

void place_record(GraphEditor& editor, const std::string& rid, const journal::JournalEntry& record) {
  std::string title = node_title_from_file_name(record.file_name).value_or(record.title);
  if (Node* existing = editor.find_node(rid)) {
    // An earlier record of the run shares the minute: the later one names it.
    if (auto* node = std::get_if<Record>(existing)) {
      node->date = record.date;
      node->time = record.time;
      node->title = std::move(title);
      if (node->x == 0.0f && node->y == 0.0f) {
        const Position at = default_position(rid, editor.graph().nodes.size());
        node->x = at.x;
        node->y = at.y;
      }
    }
    return;
  }
  const Position at = default_position(rid, editor.graph().nodes.size());
  editor.append_node(Record{rid, record.date, record.time, std::move(title), at.x, at.y});
}

// The record's topic names: its map entry first, then its own names, each
// distinct name once.
std::vector<std::string_view> topic_names(const RecordTopics& map,
                                          const journal::JournalEntry& record) {
  std::vector<std::string_view> names;
  std::unordered_set<std::string_view> seen;
  const auto add = [&](std::string_view name) {
    // Lists are short; a set only pays off for long ones.
    if (names.size() < 16) {
      for (const auto n : names) {
        if (n == name) return;
      }
    } else {
      if (seen.empty()) seen.insert(names.begin(), names.end());
      if (!seen.insert(name).second) return;
    }
    names.push_back(name);
  };
  if (const auto it = map.find(record.file_name); it != map.end()) {
    for (const auto& name : it->second) add(name);
  }
  for (const auto& name : record.topics) add(name);
  return names;
}

// An editor on the topics kept from `previous`, its lists sized for the run.
GraphEditor start_rebuild(Graph previous, const std::vector<journal::JournalEntry>& records,
                          const std::vector<GoalSeed>& goals, const RecordTopics& map) {
  // At most a node per goal, record and distinct topic name, and a goal edge
  // and an edge per topic name of each record.
  std::size_t record_names = 0;
  std::unordered_set<std::string_view> distinct_names;
  for (const auto& [file_name, names] : map) distinct_names.insert(names.begin(), names.end());
  for (const auto& record : records) {
    const auto mapped = map.find(record.file_name);
    record_names += record.topics.size() + (mapped == map.end() ? 0 : mapped->second.size());
    distinct_names.insert(record.topics.begin(), record.topics.end());
  }
  return GraphEditor(keep_topics(std::move(previous),
                                 goals.size() + records.size() + distinct_names.size(),
                                 records.size() + record_names));
}

void rebuild_into(GraphEditor& editor, const std::vector<journal::JournalEntry>& records,
                  const std::vector<GoalSeed>& goals, const RecordTopics& map) {
  for (const auto& goal : goals) editor.upsert_goal_node(goal.name, goal.progress);

  Cooccurrences cooccurrences;
  for (const auto& record : records) {
    // A stopped run throws the graph away; it should not wait for it.
    if (interrupt::noted() != 0) return;
    const std::string rid = record_node_id(record.date, record.time);
    place_record(editor, rid, record);

    std::string gid;
    if (record.goal) {
      const std::string_view goal = *record.goal;
      std::string candidate = goal_node_id(goal.substr(0, goal.find('/')));
      if (editor.find_node(candidate) != nullptr) {
        editor.upsert_edge(
            Edge{record_edge_id(rid, candidate), rid, candidate, 1.0f, EdgeSource::User, true});
        gid = std::move(candidate);
      }
    }

    for (const auto name : topic_names(map, record)) {
      const std::string tid = editor.upsert_topic_node(name);
      if (tid == rid) continue;
      if (!gid.empty()) cooccurrences.add(gid, tid);
      // A link the user confirmed, under whatever id, is theirs to keep.
      if (!editor.has_confirmed_edge(rid, tid)) {
        editor.upsert_edge(Edge{record_edge_id(rid, tid), rid, tid, 1.0f, EdgeSource::Llm, false});
      }
    }
  }

  for (const auto& pair : cooccurrences.in_first_order()) {
    if (interrupt::noted() != 0) return;
    if (editor.has_confirmed_user_edge(pair.goal_id, pair.topic_id)) continue;
    const auto weight = static_cast<float>(pair.count);
    if (editor.set_first_edge_weight(pair.goal_id, pair.topic_id, weight)) continue;
    editor.append_edge(Edge{goal_topic_edge_id(pair.goal_id, pair.topic_id), pair.goal_id,
                            pair.topic_id, weight, EdgeSource::Llm, false});
  }
  // What a save of the rebuild would hold: the completion works on that.
  if (interrupt::noted() != 0) return;
  editor.prune_dangling_edges();
}

void complete_into(GraphEditor& editor, const std::vector<journal::JournalEntry>& records) {
  for (const auto& record : records) {
    if (interrupt::noted() != 0) return;
    const std::string rid = record_node_id(record.date, record.time);
    // The record's own names only, not the map's: the pass fills in the
    // standard link where a user-confirmed link under another id made the
    // rebuild leave it out.
    for (const auto& name : record.topics) {
      const std::string tid = editor.upsert_topic_node(name);
      std::string eid = record_edge_id(rid, tid);
      if (!editor.has_edge_id(eid)) {
        editor.append_edge(Edge{std::move(eid), rid, tid, 0.8f, EdgeSource::Llm, false});
      }
    }
  }
}

}  // namespace

Graph rebuild_graph(Graph previous, const std::vector<journal::JournalEntry>& records,
                    const std::vector<GoalSeed>& goals, const RecordTopics& map) {
  GraphEditor editor = start_rebuild(std::move(previous), records, goals, map);
  rebuild_into(editor, records, goals, map);
  return editor.take();
}

void complete_record_topic_edges(Graph& graph, const std::vector<journal::JournalEntry>& records) {
  GraphEditor editor(std::move(graph));
  complete_into(editor, records);
  graph = editor.take();
}

Graph rebuild_and_complete(Graph previous, const std::vector<journal::JournalEntry>& records,
                           const std::vector<GoalSeed>& goals, const RecordTopics& map) {
  GraphEditor editor = start_rebuild(std::move(previous), records, goals, map);
  rebuild_into(editor, records, goals, map);
  complete_into(editor, records);
  return editor.take();
}


}  // namespace graph
