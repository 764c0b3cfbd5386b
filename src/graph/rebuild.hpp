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
#include "journal/scan.hpp"

namespace graph {

// One goal of the run's goal list.
struct GoalSeed {
  std::string name;
  std::uint8_t progress = 0;
};

struct Rebuilt {
  Graph graph;
  // The record nodes carried over for skipped dates.
  std::size_t carried_records = 0;
};

// The graph rebuilt from the records (in record order) and the goal list: the
// topic nodes and the links touching them are kept from `previous` (the graph
// as the file holds it), record and goal nodes are made anew, and each record
// is linked to its goal and to its topics, those of `map` (the record-topics
// map of the previous run) first. Edges left without an end are dropped, as
// saving would drop them.
//
// A record node of `previous` dated on one of the `skipped` dates that no
// record regenerates is carried over unchanged, after the nodes the rebuild
// makes, and so are the links touching it, after the rebuild's links: a
// record the scan could not read for one run keeps what the user decided
// about it.
//
// Then each of a record's own topics that lacks a record-topic link under the
// standard id gets one, unconfirmed, after all of the above.
Rebuilt rebuild_and_complete(Graph previous, const std::vector<journal::JournalEntry>& records,
                             const std::vector<GoalSeed>& goals, const RecordTopics& map,
                             const journal::SkippedDates& skipped = {});

}  // namespace graph
