#include "goals/goals_index.hpp"

#include <algorithm>

#include "store/atomic.hpp"
#include "store/layout.hpp"

namespace goals {

namespace {

constexpr std::string_view kIndexName = "_index.md";
constexpr std::string_view kSuffix = ".md";

}  // namespace

std::vector<GoalFile> list_goal_files(const store::Workspace& workspace, const KnownTexts& known) {
  std::vector<GoalFile> goals;
  const store::Tree& tree = workspace.files();
  const auto listing = tree.list(store::kGoalsDir);
  if (!listing) return goals;
  for (const auto& entry : *listing) {
    const std::string_view name = entry.name;
    if (name == kIndexName || name.size() < 3 || !name.ends_with(kSuffix)) continue;
    const auto stem = name.substr(0, name.size() - kSuffix.size());
    if (const auto found = known.find(entry.path.lexically_normal()); found != known.end()) {
      goals.push_back(parse_goal_file(stem, found->second));
      continue;
    }
    // Subdirectories made by goal names with a "/" fail here and drop out.
    const auto text = store::read_text(tree, entry.path);
    if (!text) continue;
    goals.push_back(parse_goal_file(stem, *text));
  }
  std::ranges::stable_sort(goals, {}, &GoalFile::name);
  return goals;
}

std::string goals_index_text(const std::vector<GoalFile>& goals) {
  std::string out = "# 目标\n\n";
  for (const auto& goal : goals) {
    out += goal.name;
    out += ' ';
    out += std::to_string(goal.progress);
    out += "% ";
    out += goal.note;
    out += '\n';
    for (const auto& section : goal.sections) {
      out += "  ";
      out += section.name;
      out += ' ';
      out += std::to_string(section.progress);
      out += "%\n";
    }
    out += '\n';
  }
  return out;
}

std::expected<void, std::string> write_goals_index(const store::Workspace& workspace,
                                                   const KnownTexts& known) {
  const auto text = goals_index_text(list_goal_files(workspace, known));
  return workspace.write(std::filesystem::path(store::kGoalsDir) / kIndexName, text,
                         "写入 goals/_index.md 失败: ");
}

}  // namespace goals
