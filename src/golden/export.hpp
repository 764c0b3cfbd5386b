#pragma once

// The golden expected set: what the backfill inferred, in a stable sorted form
// that an evaluation harness scores other outputs against.

#include <filesystem>
#include <string>
#include <vector>

#include "files/output_file.hpp"
#include "graph/model.hpp"
#include "journal/entry.hpp"

namespace golden {

// records_expected.json, goals_expected.json, topics_expected.json,
// graph_expected.json and README.md in the "workspace" directory below the
// golden directory `dir` (as given, for the failure texts).
files::OutputFiles golden_files(const std::filesystem::path& dir,
                                const std::vector<journal::JournalEntry>& records,
                                const std::vector<std::string>& goals, const graph::Graph& graph);

}  // namespace golden
