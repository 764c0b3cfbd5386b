#pragma once

// The goals index .system/goals/_index.md, derived from the goal files present.

#include <expected>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "files/output_file.hpp"
#include "goals/goal_file.hpp"
#include "store/workspace.hpp"

namespace goals {

// The goal files' texts a run already holds, by path relative to the root in
// normal form; they stand for reading those files again, and for files the run
// is about to create.
using KnownTexts = std::map<std::filesystem::path, std::string>;

// Every goal file directly in the goals directory, or among `known`, parsed and sorted by name
// bytes; unreadable files and an unlistable directory are left out silently.
std::vector<GoalFile> list_goal_files(const store::Workspace& workspace,
                                      const KnownTexts& known = {});

// The index text for `goals` in the given order.
std::string goals_index_text(const std::vector<GoalFile>& goals);

// The goals index built from the goal files.
files::OutputFile goals_index_file(const store::Workspace& workspace, const KnownTexts& known = {});

}  // namespace goals
