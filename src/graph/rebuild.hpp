#pragma once

// The graph rebuilt from the journal records of a run: record and goal nodes
// are regenerated, the user's topic nodes and confirmed links are kept.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/model.hpp"
#include "graph/record_topics.hpp"
#include "journal/entry.hpp"

namespace graph {

// One goal of the run's goal list.
struct GoalSeed {
  std::string name;
  std::uint8_t progress = 0;
};

// The graph rebuilt from the records (in record order) and the goal list: the
// topic nodes and the links touching them are kept from `previous` (the graph
// as the file holds it), record and goal nodes are made anew, and each record
// is linked to its goal and to its topics, those of `map` (the record-topics
// map of the previous run) first. Edges left without an end are dropped, as
// saving would drop them.
Graph rebuild_graph(Graph previous, const std::vector<journal::JournalEntry>& records,
                    const std::vector<GoalSeed>& goals, const RecordTopics& map);

// Adds, under the standard id, an unconfirmed record-topic link for each of a
// record's own topics that lacks one in `graph`.
void complete_record_topic_edges(Graph& graph, const std::vector<journal::JournalEntry>& records);

// The rebuild and then the completion, in one pass over one set of indexes.
Graph rebuild_and_complete(Graph previous, const std::vector<journal::JournalEntry>& records,
                           const std::vector<GoalSeed>& goals, const RecordTopics& map);

}  // namespace graph
