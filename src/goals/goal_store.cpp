#include "goals/goal_store.hpp"

#include <map>
#include <optional>
#include <sstream>

#include "goals/goal_text.hpp"
#include "graph/editor.hpp"
#include "graph/ids.hpp"
#include "graph/model.hpp"
#include "store/atomic.hpp"
#include "store/layout.hpp"
#include "store/tree.hpp"
#include "util/text.hpp"

namespace goals {

namespace {

void warn_unsafe(std::ostream& err, std::string_view name) {
  err << "[warn] 跳过不安全的路径名: 「" << name << "」\n";
}

void warn_graph_save(std::ostream& err, std::string_view name, std::string_view message) {
  err << "[warn] create_goal: graph node save failed for 「" << name << "」: " << message << "\n";
}

std::string read_failure(const std::string& message) { return "读取目标文件失败: " + message; }

// The bytes of a goal file the run resets. A file that is not UTF-8 (torn by
// an editor or another tool) holds only lines the reset discards anyway, so it
// is read as a new goal's text rather than blocking every later run.
std::expected<std::string, std::string> read_reset_goal(const store::Tree& tree,
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
  bool reset = false;
  // A regular file stood at the path before the run touched it: a failed write
  // is its reset's failure; for a missing one, its creation's.
  bool existed = false;
  GoalTextBuilder text;
  bool written = false;
};

// The goal-file stage. Every goal file is computed in memory and written once.
// The stage leaves what creating and resetting each goal in turn, then filing
// each record's line, would leave: where a step fails, the files and graph
// nodes that the steps before it would have produced are written before the
// failure is returned.
class GoalStage {
 public:
  GoalStage(store::Workspace& workspace, const std::vector<std::string>& goal_list,
            std::ostream& err)
      : workspace_(workspace), tree_(workspace.files()), goals_(goal_list), err_(err),
        goal_file_(goal_list.size()),
        unsafe_(goal_list.size(), false) {}

  std::expected<GoalStageOutput, std::string> run(
      const std::vector<journal::JournalEntry>& records) {
    if (!goals_.empty()) {
      if (auto made = workspace_.ensure_system_dirs(); !made) return std::unexpected(made.error());
    }
    plan_goals();
    if (!failure_) file_records(records);
    write_run_goal_files();
    save_goal_nodes();
    if (!goal_write_failed_) write_other_files();
    if (failure_) return std::unexpected(*failure_);
    // Every file the stage knows now holds its text on disk.
    for (auto& file : files_) output_.texts.emplace(file.path.lexically_normal(), file.text.text());
    return std::move(output_);
  }

 private:
  static std::string key_of(const std::filesystem::path& path) {
    // Two spellings of one file ("./工作" and "工作") must share one text.
    return path.lexically_normal().native();
  }

  void plan_goals() {
    for (std::size_t k = 0; k < goals_.size(); ++k) {
      const auto& name = goals_[k];
      if (store::is_unsafe_name(name)) {
        unsafe_[k] = true;
        covered_ = k + 1;
        continue;
      }
      auto path = goal_file_path(name);
      auto key = key_of(path);
      if (const auto found = file_by_key_.find(key); found != file_by_key_.end()) {
        // Written earlier in this run, so it exists and reads back fine.
        files_[found->second].text = GoalTextBuilder(new_goal_text(name), ReuseLines::No);
        goal_file_[k] = found->second;
        covered_ = k + 1;
        continue;
      }
      const bool existed = tree_.kind(path) == store::EntryKind::Regular;
      if (existed) {
        // The goal is read back after its node is saved and before its reset.
        if (auto read = read_reset_goal(tree_, path, name); !read) {
          covered_ = k + 1;
          failure_ = read_failure(read.error());
          return;
        }
      }
      goal_file_[k] = files_.size();
      file_by_key_.emplace(std::move(key), files_.size());
      files_.push_back(
          {std::move(path), true, existed, GoalTextBuilder(new_goal_text(name), ReuseLines::No), false});
      covered_ = k + 1;
    }
  }

  void file_records(const std::vector<journal::JournalEntry>& records) {
    // Target file per goal name before the "/", or nothing when none is filed.
    std::map<std::string, std::optional<std::size_t>, std::less<>> target_by_name;
    for (const auto& record : records) {
      if (!record.goal) continue;
      const auto target = split_goal(*record.goal);
      auto known = target_by_name.find(target.name);
      if (known == target_by_name.end()) {
        auto resolved = resolve_target(target.name);
        if (!resolved) {
          failure_ = std::move(resolved.error());
          return;
        }
        known = target_by_name.emplace(std::string(target.name), *resolved).first;
      }
      if (known->second) files_[*known->second].text.file(entry_line(record), target.section);
    }
  }

  // The file that lines of goal `name` go to; nothing when they are dropped.
  std::expected<std::optional<std::size_t>, std::string> resolve_target(std::string_view name) {
    if (store::is_unsafe_name(name)) return std::nullopt;
    auto path = goal_file_path(name);
    auto key = key_of(path);
    if (const auto found = file_by_key_.find(key); found != file_by_key_.end()) {
      return found->second;
    }
    if (tree_.kind(path) != store::EntryKind::Regular) return std::nullopt;
    // The run does not reset this file, so it must not rewrite one it cannot read.
    auto read = store::read_text(tree_, path);
    if (!read) return std::unexpected(read_failure(read.error()));
    // Not reset by this run: lines left by an earlier run are reused.
    const std::size_t index = files_.size();
    file_by_key_.emplace(std::move(key), index);
    files_.push_back({std::move(path), false, true, GoalTextBuilder(std::move(*read), ReuseLines::Yes), false});
    return index;
  }

  void write_run_goal_files() {
    for (std::size_t k = 0; k < covered_; ++k) {
      if (!goal_file_[k]) continue;
      auto& file = files_[*goal_file_[k]];
      if (file.written) continue;
      file.written = true;
      // Written whole by atomic replace, the reset included: a crash or a full
      // disk must not leave a torn goal file.
      auto written = tree_.write_atomic(file.path, file.text.text());
      if (!written && file.existed) {
        fail_goal_write(k, k + 1, "重置目标文件失败: " + written.error());
        return;
      }
      if (!written) {
        // A failed creation comes before the goal's node is saved.
        fail_goal_write(k, k, "创建目标文件失败: " + store::StoreError::io(written.error()).text());
        return;
      }
    }
  }

  void fail_goal_write(std::size_t failed_goal, std::size_t covered, std::string message) {
    covered_ = covered;
    failure_ = std::move(message);
    goal_write_failed_ = true;
    // One at a time, no line would have been filed before every goal's step
    // was done: the goals already written go back to their bare header.
    std::map<std::size_t, std::string> headers;
    for (std::size_t k = 0; k < failed_goal; ++k) {
      if (goal_file_[k]) headers[*goal_file_[k]] = new_goal_text(goals_[k]);
    }
    for (const auto& [index, header] : headers) {
      if (files_[index].written) (void)tree_.write_atomic(files_[index].path, header);
    }
  }

  void save_goal_nodes() {
    if (covered_ == 0) return;
    graph::GraphEditor editor(graph::load_graph(workspace_));
    for (std::size_t k = 0; k < covered_; ++k) {
      editor.upsert_goal_node(goals_[k], 0);
      // Saving after the first goal drops the edges dangling then; an edge to a
      // goal node added later must not survive by waiting for it.
      if (k == 0) editor.prune_dangling_edges();
    }
    auto graph = editor.take();
    // The first goal's save is where a kept copy of an unreadable graph is
    // reported, after that goal's own warning.
    std::ostringstream save_warnings;
    auto saved = graph::save_graph(workspace_, std::move(graph), save_warnings);
    for (std::size_t k = 0; k < covered_; ++k) {
      if (unsafe_[k]) warn_unsafe(err_, goals_[k]);
      if (k == 0) err_ << save_warnings.str();
      if (!saved) warn_graph_save(err_, goals_[k], saved.error());
    }
    if (saved) output_.graph = std::move(*saved);
  }

  void write_other_files() {
    for (auto& file : files_) {
      if (file.reset || !file.text.changed()) continue;
      if (auto written = store::write_atomic(tree_, file.path, file.text.text()); !written) {
        failure_ = "写入目标文件失败: " + written.error().text();
        return;
      }
    }
  }

  store::Workspace& workspace_;
  const store::Tree& tree_;
  const std::vector<std::string>& goals_;
  std::ostream& err_;
  std::vector<StageFile> files_;
  std::map<std::string, std::size_t> file_by_key_;
  std::vector<std::optional<std::size_t>> goal_file_;
  std::vector<bool> unsafe_;
  // Goals whose create step came before the failure, if any: their nodes are
  // saved.
  std::size_t covered_ = 0;
  std::optional<std::string> failure_;
  bool goal_write_failed_ = false;
  GoalStageOutput output_;
};

}  // namespace

std::expected<GoalFile, std::string> create_goal(store::Workspace& workspace,
                                                 std::string_view name, std::ostream& err) {
  if (auto made = workspace.ensure_system_dirs(); !made) return std::unexpected(made.error());
  const store::Tree& tree = workspace.files();
  const bool unsafe = store::is_unsafe_name(name);
  const auto path = goal_file_path(name);
  if (unsafe) {
    warn_unsafe(err, name);
  } else if (tree.kind(path) != store::EntryKind::Regular) {
    if (auto written = store::write_atomic(tree, path, new_goal_text(name)); !written) {
      return std::unexpected("创建目标文件失败: " + written.error().text());
    }
  }

  auto graph = graph::load_graph(workspace);
  graph::upsert_goal_node(graph, name, 0);
  if (auto saved = graph::save_graph(workspace, std::move(graph), err); !saved) {
    warn_graph_save(err, name, saved.error());
  }

  if (unsafe) return parse_goal_file(name, new_goal_text(name));
  auto text = read_reset_goal(tree, path, name);
  if (!text) return std::unexpected(read_failure(text.error()));
  return parse_goal_file(name, *text);
}

std::expected<void, std::string> reset_goal_file(const store::Workspace& workspace,
                                                 std::string_view name) {
  if (store::is_unsafe_name(name)) return {};
  // An atomic replace: a crash or a full disk must not leave a torn goal file.
  if (auto written = workspace.files().write_atomic(goal_file_path(name), new_goal_text(name));
      !written) {
    return std::unexpected("重置目标文件失败: " + written.error());
  }
  return {};
}

std::expected<void, std::string> append_entry_to_goal(const store::Workspace& workspace,
                                                      const journal::JournalEntry& entry) {
  if (!entry.goal) return {};
  const auto target = split_goal(*entry.goal);
  if (store::is_unsafe_name(target.name)) return {};
  const store::Tree& tree = workspace.files();
  const auto path = goal_file_path(target.name);
  if (tree.kind(path) != store::EntryKind::Regular) return {};
  const auto text = store::read_text(tree, path);
  if (!text) return std::unexpected(read_failure(text.error()));
  const auto updated = insert_entry_line(*text, entry_line(entry), target.section);
  if (auto written = store::write_atomic(tree, path, updated); !written) {
    return std::unexpected("写入目标文件失败: " + written.error().text());
  }
  return {};
}

std::expected<GoalStageOutput, std::string> write_goal_files(store::Workspace& workspace,
                                                  const std::vector<std::string>& goal_list,
                                                  const std::vector<journal::JournalEntry>& records,
                                                  std::ostream& err) {
  return GoalStage(workspace, goal_list, err).run(records);
}

}  // namespace goals
