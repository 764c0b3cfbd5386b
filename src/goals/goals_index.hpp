#pragma once

// The goals index .system/goals/_index.md, derived from the goal files present.

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "goals/goal_file.hpp"
#include "store/workspace.hpp"

namespace goals {

// Every goal file directly in the goals directory, parsed and sorted by name
// bytes; unreadable files and an unlistable directory are left out silently.
std::vector<GoalFile> list_goal_files(const store::Workspace& workspace);

// The index text for `goals` in the given order.
std::string goals_index_text(const std::vector<GoalFile>& goals);

// Rewrites the goals index from the goal files.
std::expected<void, std::string> write_goals_index(const store::Workspace& workspace);

}  // namespace goals
