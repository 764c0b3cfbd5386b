#include "goals/goal_store.hpp"

#include <map>
#include <optional>
#include <set>

#include "files/names.hpp"
#include "files/path_text.hpp"
#include "goals/goal_text.hpp"
#include "graph/editor.hpp"
#include "graph/graph_file.hpp"
#include "graph/model.hpp"
#include "store/layout.hpp"
#include "util/text.hpp"

namespace goals {

namespace {

std::string read_failure(const std::string& message) { return "读取目标文件失败: " + message; }

// The bytes of a goal file the run resets. A file that is not UTF-8 (torn by
// an editor or another tool) holds only lines the reset discards anyway, so it
// is read as a new goal's text rather than blocking every later run.
std::expected<std::string, std::string> read_reset_goal(const files::Tree& tree,
                                                        const std::filesystem::path& path,
                                                        std::string_view name) {
  auto bytes = tree.read(path);
  if (bytes && !text::is_valid_utf8(*bytes)) return new_goal_text(name);
  return bytes;
}

// One goal file the stage writes: a goal file of the run (reset to its header
// and then filled) or another goal file that only receives lines.
struct StageFile {
  std::filesystem::path path;
  // The goal, or the name before a goal's "/", that the file is named after.
  std::string name;
  bool reset = false;
  // A regular file stood at the path: a failed write is its reset's failure;
  // for a missing one, its creation's.
  bool existed = false;
  GoalTextBuilder text;
};

class GoalStage {
 public:
  GoalStage(store::Workspace& workspace, const std::vector<std::string>& goal_list,
            std::ostream& err, const graph::KnownGraph* known)
      : workspace_(workspace),
        known_(known),
        tree_(workspace.files()),
        goals_(goal_list),
        err_(err),
        names_(files::FileNames::of(tree_, store::kGoalsDir)) {
    (void)names_.take(std::filesystem::path(store::kGoalsDir) / "_index.md", "_index");
  }

  std::expected<GoalStageOutput, std::string> run(
      const std::vector<journal::JournalEntry>& records) {
    if (auto planned = plan_goals(); !planned) return std::unexpected(planned.error());
    if (auto filed = file_records(records); !filed) return std::unexpected(filed.error());
    // The run's own goal files come first, in goal order: they were planned
    // before any other goal file was met.
    GoalStageOutput output;
    if (!goals_.empty()) output.graph = graph_with_goal_nodes();
    for (auto& file : files_) {
      auto text = file.text.text();
      if (file.reset || file.text.changed()) {
        std::string prefix = !file.reset    ? "写入目标文件失败: IO 错误: "
                             : file.existed ? "重置目标文件失败: "
                                            : "创建目标文件失败: IO 错误: ";
        output.files.push_back({.file_class = files::FileClass::Goal,
                                .path = file.path,
                                .content = text,
                                .failure_prefix = std::move(prefix),
                                .user_name = file.name});
      }
      output.texts.emplace(file.path.lexically_normal(), std::move(text));
    }
    return output;
  }

 private:
  static std::string key_of(const std::filesystem::path& path) {
    // Two spellings of one file ("./工作" and "工作") must share one text.
    return files::path_text(path.lexically_normal());
  }

  std::expected<void, std::string> plan_goals() {
    for (const auto& name : goals_) {
      if (files::is_unsafe_name(name)) {
        err_ << files::unsafe_name_warning(name);
        continue;
      }
      auto path = goal_file_path(name);
      auto key = key_of(path);
      if (const auto found = index_of_.find(key); found != index_of_.end()) {
        files_[found->second].text = GoalTextBuilder(new_goal_text(name), ReuseLines::No);
        continue;
      }
      if (const auto earlier = names_.take(path, name)) {
        err_ << files::case_clash_warning(name, *earlier);
        // Its records' lines have no file either.
        clashed_.insert(std::move(key));
        continue;
      }
      const bool existed = tree_.kind(path) == files::EntryKind::Regular;
      if (existed) {
        // Its text is read, as creating the goal reads it back, though the
        // reset then drops it.
        if (auto read = read_reset_goal(tree_, path, name); !read) {
          return std::unexpected(read_failure(read.error()));
        }
      }
      index_of_.emplace(std::move(key), files_.size());
      files_.push_back({std::move(path), name, true, existed,
                        GoalTextBuilder(new_goal_text(name), ReuseLines::No)});
    }
    return {};
  }

  std::expected<void, std::string> file_records(const std::vector<journal::JournalEntry>& records) {
    // Target file per goal name before the "/", or nothing when none is filed.
    std::map<std::string, std::optional<std::size_t>, std::less<>> target_by_name;
    for (const auto& record : records) {
      if (!record.goal) continue;
      const auto target = split_goal(*record.goal);
      auto known = target_by_name.find(target.name);
      if (known == target_by_name.end()) {
        auto resolved = resolve_target(target.name);
        if (!resolved) return std::unexpected(std::move(resolved.error()));
        known = target_by_name.emplace(std::string(target.name), *resolved).first;
      }
      if (known->second) files_[*known->second].text.file(entry_line(record), target.section);
    }
    return {};
  }

  // The file that lines of goal `name` go to; nothing when they are dropped.
  std::expected<std::optional<std::size_t>, std::string> resolve_target(std::string_view name) {
    if (files::is_unsafe_name(name)) return std::nullopt;
    auto path = goal_file_path(name);
    auto key = key_of(path);
    if (const auto found = index_of_.find(key); found != index_of_.end()) return found->second;
    if (clashed_.contains(key) || tree_.kind(path) != files::EntryKind::Regular)
      return std::nullopt;
    if (const auto earlier = names_.take(path, name)) {
      err_ << files::case_clash_warning(name, *earlier);
      return std::nullopt;
    }
    // The run does not reset this file but keeps its text, so it must not
    // rewrite one it cannot read, nor one edited while it runs.
    auto read = workspace_.read_input(path);
    if (!read) return std::unexpected(read_failure(read.error()));
    const std::size_t index = files_.size();
    index_of_.emplace(std::move(key), index);
    files_.push_back({std::move(path), std::string(name), false, true,
                      GoalTextBuilder(std::move(*read), ReuseLines::Yes)});
    return index;
  }

  // The graph as the goal nodes leave it: the edges dangling once the first
  // goal is in are dropped (an edge to a goal node added later must not
  // survive by waiting for it), and so are those dangling at the end.
  graph::Graph graph_with_goal_nodes() {
    graph::GraphEditor editor(graph::load_graph(workspace_, known_));
    for (std::size_t k = 0; k < goals_.size(); ++k) {
      editor.upsert_goal_node(goals_[k], 0);
      if (k == 0) editor.prune_dangling_edges();
    }
    editor.prune_dangling_edges();
    return editor.take();
  }

  store::Workspace& workspace_;
  const graph::KnownGraph* known_;
  const files::Tree& tree_;
  const std::vector<std::string>& goals_;
  std::ostream& err_;
  files::FileNames names_;
  std::vector<StageFile> files_;
  std::map<std::string, std::size_t> index_of_;
  // Goal files skipped for a name this file system takes for another's.
  std::set<std::string> clashed_;
};

}  // namespace

std::expected<GoalStageOutput, std::string> goal_files(
    store::Workspace& workspace, const std::vector<std::string>& goal_list,
    const std::vector<journal::JournalEntry>& records, std::ostream& err,
    const graph::KnownGraph* known) {
  return GoalStage(workspace, goal_list, err, known).run(records);
}

}  // namespace goals
