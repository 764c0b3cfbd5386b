#pragma once

// The golden expected set: what the backfill inferred, in a stable sorted form
// that an evaluation harness scores other outputs against.

#include <expected>
#include <string>
#include <vector>

#include "graph/model.hpp"
#include "journal/entry.hpp"
#include "store/tree.hpp"

namespace golden {

// Writes records_expected.json, goals_expected.json, topics_expected.json,
// graph_expected.json and README.md into the "workspace" directory below
// `dir`, which is created when missing.
std::expected<void, std::string> export_golden(const store::Tree& dir,
                                               const std::vector<journal::JournalEntry>& records,
                                               const std::vector<std::string>& goals,
                                               const graph::Graph& graph);

}  // namespace golden
