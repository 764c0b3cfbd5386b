#pragma once

// The graph rebuilt from the journal records of a run: record and goal nodes
// are regenerated, the user's topic nodes and confirmed links are kept.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "graph/model.hpp"
#include "journal/entry.hpp"

namespace graph {

// One goal of the run's goal list.
struct GoalSeed {
  std::string name;
  std::uint8_t progress = 0;
};

// Rebuilds graph.json from the records (in record order), the goal list, the
// kept topic nodes and links of the current file and the record-topics map;
// returns the graph as saved, or the save's failure text. Warnings of the save
// go to `err`.
std::expected<Graph, std::string> rebuild_graph(store::Workspace& workspace,
                                                const std::vector<journal::JournalEntry>& records,
                                                const std::vector<GoalSeed>& goals,
                                                std::ostream& err);

// Reloads graph.json and adds, under the standard id, an unconfirmed record-topic
// link for each of a record's own topics that lacks one; then saves.
std::expected<Graph, std::string> complete_record_topic_edges(
    store::Workspace& workspace, const std::vector<journal::JournalEntry>& records,
    std::ostream& err);

// The same pass on `saved`, the graph rebuild_graph just returned, sparing the
// reload of the file it equals.
std::expected<Graph, std::string> complete_record_topic_edges(
    store::Workspace& workspace, Graph saved,
    const std::vector<journal::JournalEntry>& records, std::ostream& err);

// Node counts by kind and the edge count of a graph.
struct GraphCounts {
  std::size_t nodes = 0;
  std::size_t records = 0;
  std::size_t goals = 0;
  std::size_t topics = 0;
  std::size_t edges = 0;
};
GraphCounts count_graph(const Graph& graph);

}  // namespace graph
