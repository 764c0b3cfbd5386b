#pragma once

// The goal-file stage of a backfill run: the goal files as the run leaves
// them, and the graph with the goal nodes.

#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "files/output_file.hpp"
#include "goals/goal_file.hpp"
#include "graph/graph_file.hpp"
#include "graph/model.hpp"
#include "journal/entry.hpp"
#include "store/workspace.hpp"

namespace goals {

// What the goal-file stage leaves for the writer and the later stages.
struct GoalStageOutput {
  // The loaded graph with every goal node added (progress 0); nothing when
  // there are no goals.
  std::optional<graph::Graph> graph;
  // The text every goal file the stage writes or read holds after the run, by
  // its path relative to the root in normal form.
  std::map<std::filesystem::path, std::string> texts;
  // The goal files to write: the run's goals in order, then the other goal
  // files that receive lines.
  files::OutputFiles files;
};

// The goal-file stage: every goal of `goal_list` gets its file, holding its
// header and the lines of its records; a goal "A/B" files its records' lines
// into section B of A's file when that file exists. A file the run does not
// reset (A's) keeps its text, and lines it already holds are not added again.
// Names that would leave the goals directory get a warning on `err` and no
// file. Fails with "读取目标文件失败: " and the system's text when a goal file
// that must be read cannot be. graph.json is loaded as graph::load_graph
// loads it with `known`.
std::expected<GoalStageOutput, std::string> goal_files(
    store::Workspace& workspace, const std::vector<std::string>& goal_list,
    const std::vector<journal::JournalEntry>& records, std::ostream& err,
    const graph::KnownGraph* known = nullptr);

}  // namespace goals
