#pragma once

// Goal files on disk: creating, resetting and filing entries one at a time, and
// the whole goal-file stage of a backfill run done in one pass.

#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "goals/goal_file.hpp"
#include "graph/model.hpp"
#include "journal/entry.hpp"
#include "store/workspace.hpp"

namespace goals {

// Creates the goal file of `name` when missing, puts the goal node (progress 0)
// into graph.json (a failed save only warns on `err`) and returns the parsed
// file. A name that would leave the goals directory gets one warning on `err`,
// no file work, and the parse of a new goal text.
std::expected<GoalFile, std::string> create_goal(store::Workspace& workspace,
                                                 std::string_view name, std::ostream& err);

// Overwrites the goal file of `name` with the new-goal text (plain write); an
// unsafe name is left alone.
std::expected<void, std::string> reset_goal_file(const store::Workspace& workspace,
                                                 std::string_view name);

// Files the entry's line into the goal file its goal names, when that file
// exists and its name is safe; entries without a goal are passed over.
std::expected<void, std::string> append_entry_to_goal(const store::Workspace& workspace,
                                                      const journal::JournalEntry& entry);

// What the goal-file stage leaves for the later stages.
struct GoalStageOutput {
  // graph.json as the stage saved it; nothing when it did not save it.
  std::optional<graph::Graph> graph;
  // The text every goal file the stage wrote or read now holds, by its path
  // relative to the root in normal form.
  std::map<std::filesystem::path, std::string> texts;
};

// The goal-file stage: creates and resets the file of every goal of
// `goal_list` (in order), files every record's line, and adds all goal nodes to
// graph.json. Leaves the same files, warnings and failure text as doing those
// steps one by one, but writes each file and the graph only once. Lines already
// present in a goal file that the run does not reset are not written again.
std::expected<GoalStageOutput, std::string> write_goal_files(
    store::Workspace& workspace, const std::vector<std::string>& goal_list,
    const std::vector<journal::JournalEntry>& records, std::ostream& err);

}  // namespace goals
