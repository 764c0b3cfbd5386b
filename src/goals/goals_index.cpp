#include "goals/goals_index.hpp"

#include <algorithm>

#include "files/path_text.hpp"
#include "files/tree.hpp"
#include "store/layout.hpp"
#include "util/text.hpp"

namespace goals {

namespace {

constexpr std::string_view kIndexName = "_index.md";
constexpr std::string_view kSuffix = ".md";

}  // namespace

std::vector<GoalFile> list_goal_files(const store::Workspace& workspace, const KnownTexts& known) {
  std::vector<GoalFile> goals;
  const files::Tree& tree = workspace.files();
  auto listing = tree.list(store::kGoalsDir);
  if (!listing) {
    if (known.empty()) return goals;
    listing.emplace();
  }
  // Goal files the run is creating are not on disk yet.
  const std::filesystem::path dir = std::filesystem::path(store::kGoalsDir).lexically_normal();
  std::size_t listed = listing->size();
  for (const auto& [path, text] : known) {
    if (path.parent_path() != dir) continue;
    const auto name = files::path_text(path.filename());
    const auto at = std::ranges::lower_bound(listing->begin(), listing->begin() + listed, name,
                                             std::less<>{}, &files::DirEntry::name);
    if (at == listing->begin() + listed || at->name != name) listing->push_back({name, path});
  }
  if (listing->size() != listed) std::ranges::stable_sort(*listing, {}, &files::DirEntry::name);
  for (const auto& entry : *listing) {
    const std::string_view name = entry.name;
    if (name == kIndexName || name.size() < 3 || !name.ends_with(kSuffix)) continue;
    const auto stem = name.substr(0, name.size() - kSuffix.size());
    if (const auto found = known.find(entry.path.lexically_normal()); found != known.end()) {
      goals.push_back(parse_goal_file(stem, found->second));
      continue;
    }
    // Subdirectories made by goal names with a "/" fail here and drop out.
    const auto text = files::read_text(tree, entry.path);
    if (!text) continue;
    goals.push_back(parse_goal_file(stem, *text));
  }
  std::ranges::stable_sort(goals, {}, &GoalFile::name);
  return goals;
}

std::string goals_index_text(const std::vector<GoalFile>& goals) {
  std::string out = "# 目标\n\n";
  for (const auto& goal : goals) {
    text::append_escaped_controls(out, goal.name);
    out += ' ';
    out += std::to_string(goal.progress);
    out += "% ";
    text::append_escaped_controls(out, goal.note);
    out += '\n';
    for (const auto& section : goal.sections) {
      out += "  ";
      text::append_escaped_controls(out, section.name);
      out += ' ';
      out += std::to_string(section.progress);
      out += "%\n";
    }
    out += '\n';
  }
  return out;
}

files::OutputFile goals_index_file(const store::Workspace& workspace, const KnownTexts& known) {
  return {files::FileClass::Derived,
          std::filesystem::path(store::kGoalsDir) / kIndexName,
          goals_index_text(list_goal_files(workspace, known)),
          "写入 goals/_index.md 失败: IO 错误: ",
          {}};
}

}  // namespace goals
