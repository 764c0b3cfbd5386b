#include "goals/goal_store.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

#include "goals/goals_index.hpp"
#include "graph/ids.hpp"
#include "graph/model.hpp"
#include "support/temp_dir.hpp"
#include "util/fs.hpp"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

journal::JournalEntry record(std::string date, std::string name, std::optional<std::string> goal) {
  journal::JournalEntry e;
  e.date = std::move(date);
  e.time = "09:00";
  e.title = name;
  e.file_name = e.date + "-" + name + ".md";
  e.goal = std::move(goal);
  return e;
}

// What the stage leaves: the outcome, the warnings, every file below the root
// (graph.json as its loaded content without the save stamps).
struct Outcome {
  std::string result;
  std::string err;
  std::map<std::string, std::string> files;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << "result: " << o.result << "\nerr: " << o.err;
  for (const auto& [path, content] : o.files) out << "\n== " << path << "\n" << content;
  return out;
}

Outcome capture(const fs::path& root, const std::expected<void, std::string>& result,
                const std::string& err) {
  Outcome outcome{result ? "ok" : result.error(), err, {}};
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const auto relative = fs::relative(it->path(), root).string();
    if (it->is_directory()) {
      outcome.files[relative + "/"] = "";
    } else if (relative.ends_with(".tmp")) {
      // A failed atomic write leaves its temporary file; what it was writing
      // at that moment is not part of the outcome.
      outcome.files[relative] = "<leftover>";
    } else if (relative == ".system/graph.json") {
      store::Workspace workspace(root);
      auto graph = graph::load_graph(workspace);
      graph.version.clear();
      graph.layout.timestamp.clear();
      outcome.files[relative] = graph::graph_to_json(graph);
    } else {
      outcome.files[relative] = fsx::read_bytes(it->path()).value_or("<unreadable>");
    }
  }
  return outcome;
}

// The stage done one step at a time through the single-goal operations: each
// goal created and its file reset, then each record's line appended, each step
// writing what it changed before the next one starts.
std::expected<void, std::string> step_by_step(const fs::path& root,
                                              const std::vector<std::string>& goal_list,
                                              const std::vector<journal::JournalEntry>& records,
                                              std::ostream& err) {
  store::Workspace workspace(root);
  for (const auto& goal : goal_list) {
    if (auto created = goals::create_goal(workspace, goal, err); !created) {
      return std::unexpected(created.error());
    }
    if (auto reset = goals::reset_goal_file(workspace, goal); !reset) return reset;
  }
  for (const auto& r : records) {
    if (auto appended = goals::append_entry_to_goal(workspace, r); !appended) return appended;
  }
  return {};
}

using Prepare = std::function<void(const TempDir&)>;

// Runs both ways on identical workspaces and returns both outcomes.
std::pair<Outcome, Outcome> run_both(const Prepare& setup, const std::vector<std::string>& goal_list,
                                     const std::vector<journal::JournalEntry>& records) {
  TempDir once;
  TempDir stepwise;
  setup(once);
  setup(stepwise);
  std::ostringstream once_err;
  std::ostringstream stepwise_err;
  store::Workspace once_workspace(once.path());
  const auto once_output = goals::write_goal_files(once_workspace, goal_list, records, once_err);
  const std::expected<void, std::string> once_result =
      once_output ? std::expected<void, std::string>{} : std::unexpected(once_output.error());
  const auto stepwise_result = step_by_step(stepwise.path(), goal_list, records, stepwise_err);
  return {capture(once.path(), once_result, once_err.str()),
          capture(stepwise.path(), stepwise_result, stepwise_err.str())};
}

const std::vector<journal::JournalEntry> kRecords = {
    record("2026-06-28", "季度复盘", "工作"),    record("2026-07-01", "无目标", std::nullopt),
    record("2026-07-02", "晨会", "工作"),        record("2026-07-02", "晨会", "工作"),
    record("2026-07-05", "英语听力", "学习/英语"), record("2026-07-06", "算法题", "学习/ 算法 "),
    record("2026-07-07", "外面", "../../x"),     record("2026-07-09", "家庭预算", "生活"),
    record("2026-07-12", "周报", "工作/周报"),
};

}  // namespace

// Writing each file once must leave the same files, graph nodes, warnings and
// failure text as step_by_step, also when a step fails part-way.
TEST(WriteGoalFilesTest, LeavesWhatTheStepByStepOrderLeaves) {
  // "./生活" and "生活" name one file; "/tmp/x" and "_index" are unsafe.
  const std::vector<std::string> goal_list = {"./生活", "/tmp/x", "_index", "学习/英语",
                                              "工作",   "工作/周报", "生活"};
  const std::vector<std::pair<std::string, Prepare>> cases = {
      {"ok",
       [](const TempDir& dir) {
         dir.write(".system/goals/学习.md", "# 学习\n\n## 英语 50%\n- old\n## 算法");
         dir.write(".system/goals/工作.md", "# 工作\n\n> 10% | old\n- stale\n");
         // e1 dangles when the first goal is saved, so it goes although its
         // node is added later; e2 names the first goal and stays.
         dir.write(".system/graph.json", R"({"nodes": [{"type": "topic", "id": "t_a", "name": "a",
           "x": 1, "y": 2}], "edges": [
           {"id": "e1", "from": "t_a", "to": "g_工作_周报", "weight": 1, "source": "user", "confirmed": true},
           {"id": "e2", "from": "t_a", "to": "g_生活", "weight": 1, "source": "user", "confirmed": true}]})");
       }},
      // Every covered goal warns, in order with the unsafe-name warnings.
      {"ok", [](const TempDir& dir) { dir.write(".system/graph.json/x", ""); }},
      // A goal file of the run torn mid-character is replaced, not read.
      {"ok", [](const TempDir& dir) { dir.write(".system/goals/工作.md", "# 工作\n\xe5\xb7"); }},
      // Creation fails before its node is saved.
      {"创建目标文件失败: IO 错误: Is a directory",
       [](const TempDir& dir) {
         dir.write(".system/goals/工作.md/x", "");
         dir.write(".system/graph.json/x", "");
       }},
      // A file that only receives lines cannot be read.
      {"读取目标文件失败: 不是有效的 UTF-8 文本",
       [](const TempDir& dir) { dir.write(".system/goals/学习.md", "# 学习\n\xff"); }},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto [once, stepwise] = run_both(cases[i].second, goal_list, kRecords);
    EXPECT_EQ(once, stepwise) << "case " << i;
    EXPECT_EQ(once.result, cases[i].first) << "case " << i;
    if (i == 1) {
      EXPECT_TRUE(once.err.starts_with(
          "[warn] create_goal: graph node save failed for 「./生活」: 写入 graph.json 失败: "
          "IO 错误: Is a directory\n[warn] 跳过不安全的路径名: 「/tmp/x」\n[warn] create_goal:"))
          << once.err;
    }
    if (i != 0) continue;
    EXPECT_EQ(once.files.at(".system/goals/工作.md"),
              "# 工作\n\n> 0% | —\n- 2026-06-28 季度复盘 \n- 2026-07-02 晨会 \n- 2026-07-02 晨会 \n"
              "- 2026-07-12 周报 \n");
    const auto& graph_text = once.files.at(".system/graph.json");
    EXPECT_EQ(graph_text.find("\"e1\""), std::string::npos);
    EXPECT_NE(graph_text.find("\"e2\""), std::string::npos);
  }
}

// The goal files of a workspace whose user goal 学习 has sections and is not
// among the run's goals: lines go into its sections once, and a second run
// changes nothing.
TEST(WriteGoalFilesTest, SecondRunLeavesIdenticalFiles) {
  TempDir dir;
  dir.write(".system/goals/学习.md",
            "# 学习\n\n> 30% | 每天一小时\n\n## 英语 50%\n\n- 2026-06-30 旧记录 \n\n## 算法\n");
  dir.write(".system/goals/工作.md", "# 工作\n\n> 10% | 旧\n\n## 周报\n- 2026-07-12 周报 \n");
  auto records = kRecords;
  records.push_back(record("2026-07-13", "同名", "学习/英语"));
  records.push_back(record("2026-07-13", "同名", "学习/英语"));
  const std::vector<std::string> goal_list = {"学习/英语", "学习/ 算法 ", "工作", "工作/周报", "生活"};

  std::ostringstream err;
  store::Workspace workspace(dir.path());
  ASSERT_TRUE(goals::write_goal_files(workspace, goal_list, records, err));
  const std::string learning =
      "# 学习\n\n> 30% | 每天一小时\n\n## 英语 50%\n\n- 2026-06-30 旧记录 \n\n"
      "- 2026-07-05 英语听力 \n- 2026-07-13 同名 \n- 2026-07-13 同名 \n"
      "## 算法\n- 2026-07-06 算法题 \n";
  EXPECT_EQ(dir.read(".system/goals/学习.md"), learning);
  // 工作 is a goal of the run, so it is reset and its old section is gone.
  EXPECT_TRUE(dir.read(".system/goals/工作.md").starts_with("# 工作\n\n> 0% | —\n- 2026-06-28"));

  const auto first = capture(dir.path(), {}, "");
  store::Workspace rerun(dir.path());
  ASSERT_TRUE(goals::write_goal_files(rerun, goal_list, records, err));
  EXPECT_EQ(capture(dir.path(), {}, ""), first);
  EXPECT_EQ(err.str(), "");
}

TEST(WriteGoalFilesTest, UnsafeNamesNeverLeaveTheWorkspace) {
  TempDir outer;
  const auto root = outer.path() / "ws";
  const std::vector<std::string> goal_list = {"../../escape", "../escape", "_index", "ok/../../x"};
  std::vector<journal::JournalEntry> records;
  for (const auto& goal : goal_list) records.push_back(record("2026-07-01", "r", goal + "/s"));
  std::ostringstream err;
  store::Workspace workspace(root);
  ASSERT_TRUE(goals::write_goal_files(workspace, goal_list, records, err));

  for (const auto& entry : fs::recursive_directory_iterator(outer.path())) {
    EXPECT_FALSE(fs::relative(entry.path(), root).string().starts_with("..")) << entry.path();
  }
  EXPECT_FALSE(fs::exists(root / ".system/goals/_index.md"));
  std::string expected;
  for (const auto& goal : goal_list) expected += "[warn] 跳过不安全的路径名: 「" + goal + "」\n";
  EXPECT_EQ(err.str(), expected);
  // The goal nodes are still there.
  const auto graph_text = graph::graph_to_json(graph::load_graph(workspace));
  for (const auto& goal : goal_list) {
    EXPECT_NE(graph_text.find('"' + graph::goal_node_id(goal) + '"'), std::string::npos) << goal;
  }
}

TEST(GoalsIndexTest, ListsGoalFilesSortedByNameBytes) {
  TempDir dir;
  dir.write(".system/goals/_index.md/x", "");
  const auto blocked = goals::write_goals_index(store::Workspace(dir.path()));
  ASSERT_FALSE(blocked);
  EXPECT_EQ(blocked.error(), "写入 goals/_index.md 失败: IO 错误: Is a directory");
  fs::remove_all(dir / ".system/goals/_index.md");
  ASSERT_TRUE(goals::write_goals_index(store::Workspace(dir.path())));
  EXPECT_EQ(dir.read(".system/goals/_index.md"), "# 目标\n\n");

  dir.write(".system/goals/学习.md", goals::new_goal_text("学习"));
  dir.write(".system/goals/写作.md", "# 写作\n> 40% | 进行中\n## 初稿 60%\n- 2026-07-01 x \n## 定稿\n");
  dir.write(".system/goals/b.md", "> 1% |\n");
  for (const auto* name : {"B.md", "a b.md", "a.md", "notes.MD", "notes.txt", "sub.md/inner.md",
                           "学习/英语.md"}) {
    dir.write(fs::path(".system/goals") / name, "");
  }
  dir.write(".system/goals/bad.md", "\xff");
  ASSERT_TRUE(goals::write_goals_index(store::Workspace(dir.path())));
  EXPECT_EQ(dir.read(".system/goals/_index.md"),
            "# 目标\n\nB 0% \n\na 0% \n\na b 0% \n\nb 1% \n\n"
            "写作 40% 进行中\n  初稿 60%\n  定稿 0%\n\n学习 0% —\n\n");
}
