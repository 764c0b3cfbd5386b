#include "goals/goal_store.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  out << "result: " << outcome.result << "\nerr: " << outcome.err;
  for (const auto& [path, content] : outcome.files) out << "\n== " << path << "\n" << content;
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
      auto graph = graph::load_graph(root);
      graph.version.clear();
      graph.layout.timestamp.clear();
      outcome.files[relative] = graph::graph_to_json(graph);
    } else {
      outcome.files[relative] = fsx::read_bytes(it->path()).value_or("<unreadable>");
    }
  }
  return outcome;
}

// The stage done one step at a time, as the goal operations define it.
std::expected<void, std::string> step_by_step(const fs::path& root,
                                              const std::vector<std::string>& goal_list,
                                              const std::vector<journal::JournalEntry>& records,
                                              std::ostream& err) {
  for (const auto& goal : goal_list) {
    if (auto created = goals::create_goal(root, goal, err); !created) {
      return std::unexpected(created.error());
    }
    if (auto reset = goals::reset_goal_file(root, goal); !reset) return reset;
  }
  for (const auto& r : records) {
    if (auto appended = goals::append_entry_to_goal(root, r); !appended) return appended;
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
  const auto once_result = goals::write_goal_files(once.path(), goal_list, records, once_err);
  const auto stepwise_result = step_by_step(stepwise.path(), goal_list, records, stepwise_err);
  return {capture(once.path(), once_result, once_err.str()),
          capture(stepwise.path(), stepwise_result, stepwise_err.str())};
}

constexpr std::string_view kGraphWithEdges = R"({
  "version": "",
  "nodes": [
    {"type": "topic", "id": "t_a", "name": "a", "x": 1.0, "y": 2.0}
  ],
  "edges": [
    {"id": "e1", "from": "t_a", "to": "g_工作_周报", "weight": 1.0, "source": "user", "confirmed": true},
    {"id": "e2", "from": "t_a", "to": "g_生活", "weight": 1.0, "source": "user", "confirmed": true}
  ],
  "layout": {"algorithm": "force", "timestamp": ""}
})";

const std::vector<journal::JournalEntry> kRecords = {
    record("2026-06-28", "季度复盘", "工作"),
    record("2026-07-01", "无目标", std::nullopt),
    record("2026-07-02", "晨会", "工作"),
    record("2026-07-02", "晨会", "工作"),
    record("2026-07-05", "英语听力", "学习/英语"),
    record("2026-07-06", "算法题", "学习/ 算法 "),
    record("2026-07-07", "外面", "../../x"),
    record("2026-07-08", "绝对", "/tmp/x"),
    record("2026-07-09", "家庭预算", "生活"),
    record("2026-07-12", "周报", "工作/周报"),
};

void user_goal_file(const TempDir& dir) {
  dir.write(".system/goals/学习.md", "# 学习\n\n> 30% | 每天\n\n## 英语 50%\n- old\n## 算法");
}

}  // namespace

TEST(WriteGoalFilesTest, LeavesWhatTheStepByStepOrderLeaves) {
  const std::vector<std::string> goal_list = {"./生活", "/tmp/x", "学习/英语", "学习/算法",
                                              "工作", "工作/周报", "生活"};
  const auto [once, stepwise] = run_both(
      [](const TempDir& dir) {
        user_goal_file(dir);
        dir.write(".system/goals/工作.md", "# 工作\n\n> 10% | old\n- stale\n");
        dir.write(".system/graph.json", kGraphWithEdges);
      },
      goal_list, kRecords);
  EXPECT_EQ(once, stepwise);
  EXPECT_EQ(once.result, "ok");
  EXPECT_EQ(once.err, "[warn] 跳过不安全的路径名: 「/tmp/x」\n");
  EXPECT_EQ(once.files.at(".system/goals/生活.md"), "# 生活\n\n> 0% | —\n- 2026-07-09 家庭预算 \n");
  EXPECT_EQ(once.files.at(".system/goals/工作.md"),
            "# 工作\n\n> 0% | —\n- 2026-06-28 季度复盘 \n- 2026-07-02 晨会 \n- 2026-07-02 晨会 \n"
            "- 2026-07-12 周报 \n");
  // The edge to g_工作_周报 dangled when the first goal was saved, so it is
  // gone although that node exists now; the edge to the first goal survives.
  const auto& graph_text = once.files.at(".system/graph.json");
  EXPECT_EQ(graph_text.find("\"e1\""), std::string::npos);
  EXPECT_NE(graph_text.find("\"e2\""), std::string::npos);
  EXPECT_NE(graph_text.find("\"g_tmp_x\""), std::string::npos);
}

TEST(WriteGoalFilesTest, FailedGraphSaveWarnsForEveryGoalInOrder) {
  const std::vector<std::string> goal_list = {"../a", "b", "_index", "c"};
  const auto [once, stepwise] = run_both(
      [](const TempDir& dir) { dir.write(".system/graph.json/blocker", ""); }, goal_list, kRecords);
  EXPECT_EQ(once, stepwise);
  const std::string failed = "[warn] create_goal: graph node save failed for 「";
  const std::string cause = "」: 写入 graph.json 失败: IO 错误: Is a directory\n";
  const std::string unsafe = "[warn] 跳过不安全的路径名: 「";
  EXPECT_EQ(once.err, unsafe + "../a」\n" + failed + "../a" + cause + failed + "b" + cause + unsafe +
                          "_index」\n" + failed + "_index" + cause + failed + "c" + cause);
}

TEST(WriteGoalFilesTest, FailuresStopWhereTheStepByStepOrderStops) {
  const std::vector<std::string> goal_list = {"学习/英语", "工作", "生活"};
  const std::vector<Prepare> setups = {
      // 工作.md is not UTF-8: read back fails after its node is saved.
      [](const TempDir& dir) { dir.write(".system/goals/工作.md", "\xff\xfe"); },
      // 工作.md is a directory: the creation fails before its node is saved.
      [](const TempDir& dir) { dir.write(".system/goals/工作.md/x", ""); },
      // 学习.md receives lines but cannot be read.
      [](const TempDir& dir) { dir.write(".system/goals/学习.md", "# 学习\n\xff"); },
  };
  const std::vector<std::string> expected = {
      "读取目标文件失败: 不是有效的 UTF-8 文本",
      "创建目标文件失败: IO 错误: Is a directory",
      "读取目标文件失败: 不是有效的 UTF-8 文本",
  };
  for (std::size_t i = 0; i < setups.size(); ++i) {
    const auto [once, stepwise] = run_both(setups[i], goal_list, kRecords);
    EXPECT_EQ(once, stepwise) << "case " << i;
    EXPECT_EQ(once.result, expected[i]) << "case " << i;
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
  ASSERT_TRUE(goals::write_goal_files(dir.path(), goal_list, records, err));
  const std::string learning =
      "# 学习\n\n> 30% | 每天一小时\n\n## 英语 50%\n\n- 2026-06-30 旧记录 \n\n"
      "- 2026-07-05 英语听力 \n- 2026-07-13 同名 \n- 2026-07-13 同名 \n"
      "## 算法\n- 2026-07-06 算法题 \n";
  EXPECT_EQ(dir.read(".system/goals/学习.md"), learning);
  // 工作 is a goal of the run, so it is reset and its old section is gone.
  EXPECT_EQ(dir.read(".system/goals/工作.md"),
            "# 工作\n\n> 0% | —\n- 2026-06-28 季度复盘 \n- 2026-07-02 晨会 \n- 2026-07-02 晨会 \n"
            "- 2026-07-12 周报 \n");
  EXPECT_EQ(dir.read(".system/goals/工作/周报.md"), "# 工作/周报\n\n> 0% | —\n");
  EXPECT_EQ(dir.read(".system/goals/学习/ 算法 .md"), "# 学习/ 算法 \n\n> 0% | —\n");

  const auto first = capture(dir.path(), {}, "");
  ASSERT_TRUE(goals::write_goal_files(dir.path(), goal_list, records, err));
  EXPECT_EQ(capture(dir.path(), {}, ""), first);
  EXPECT_EQ(err.str(), "");
}

TEST(WriteGoalFilesTest, UnsafeNamesNeverLeaveTheWorkspace) {
  TempDir outer;
  const auto root = outer.path() / "ws";
  fs::create_directories(root);
  const std::vector<std::string> goal_list = {"../../escape", "../escape", "_index", "ok/../../x"};
  std::vector<journal::JournalEntry> records;
  for (const auto& goal : goal_list) records.push_back(record("2026-07-01", "r", goal));
  records.push_back(record("2026-07-01", "r", "../escape/sub"));
  std::ostringstream err;
  ASSERT_TRUE(goals::write_goal_files(root, goal_list, records, err));

  for (const auto& entry : fs::recursive_directory_iterator(outer.path())) {
    const auto relative = fs::relative(entry.path(), root).string();
    EXPECT_FALSE(relative.starts_with("..")) << entry.path();
  }
  EXPECT_FALSE(fs::exists(root / ".system/goals/_index.md"));
  std::string expected;
  for (const auto& goal : goal_list) expected += "[warn] 跳过不安全的路径名: 「" + goal + "」\n";
  EXPECT_EQ(err.str(), expected);
  const auto graph = graph::load_graph(root);
  for (const auto& goal : goal_list) {
    EXPECT_TRUE(std::ranges::any_of(graph.nodes, [&](const graph::Node& node) {
      return graph::node_id(node) == graph::goal_node_id(goal);
    })) << goal;
  }

  // The single-goal operations follow the same rule.
  std::ostringstream single_err;
  const auto created = goals::create_goal(root, "/abs", single_err);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->note, "—");
  EXPECT_EQ(single_err.str(), "[warn] 跳过不安全的路径名: 「/abs」\n");
  EXPECT_TRUE(goals::reset_goal_file(root, "/abs"));
  EXPECT_TRUE(goals::append_entry_to_goal(root, record("2026-07-01", "r", "../x")));
}

TEST(WriteGoalFilesTest, ManyRecordsForOneGoalStayFast) {
  TempDir dir;
  dir.write(".system/goals/学习.md", "# 学习\n## A\n## B\n");
  std::vector<journal::JournalEntry> records;
  for (int i = 0; i < 50000; ++i) {
    records.push_back(record("2026-07-01", "r" + std::to_string(i), i % 2 ? "工作" : "学习/A"));
  }
  std::ostringstream err;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(goals::write_goal_files(dir.path(), {"工作"}, records, err));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const auto learning = dir.read(".system/goals/学习.md");
  EXPECT_TRUE(learning.starts_with("# 学习\n## A\n- 2026-07-01 r0 \n- 2026-07-01 r2 \n"));
  EXPECT_TRUE(learning.ends_with("- 2026-07-01 r49998 \n## B\n"));
}

TEST(GoalsIndexTest, ListsGoalFilesSortedByNameBytes) {
  TempDir dir;
  ASSERT_TRUE(goals::write_goals_index(dir.path()));
  EXPECT_EQ(dir.read(".system/goals/_index.md"), "# 目标\n\n");

  dir.write(".system/goals/学习.md", goals::new_goal_text("学习"));
  dir.write(".system/goals/写作.md", "# 写作\n> 40% | 进行中\n## 初稿 60%\n- 2026-07-01 x \n## 定稿\n");
  dir.write(".system/goals/b.md", "> 1% |\n");
  dir.write(".system/goals/B.md", "");
  dir.write(".system/goals/a b.md", "");
  dir.write(".system/goals/a.md", "");
  dir.write(".system/goals/notes.MD", "");
  dir.write(".system/goals/notes.txt", "");
  dir.write(".system/goals/bad.md", "\xff");
  dir.write(".system/goals/sub.md/inner.md", "");
  dir.write(".system/goals/学习/英语.md", "");
  dir.write(".system/goals/_index.md", "# old");
  ASSERT_TRUE(goals::write_goals_index(dir.path()));
  EXPECT_EQ(dir.read(".system/goals/_index.md"),
            "# 目标\n\nB 0% \n\na 0% \n\na b 0% \n\nb 1% \n\n"
            "写作 40% 进行中\n  初稿 60%\n  定稿 0%\n\n学习 0% —\n\n");
}

TEST(GoalsIndexTest, WriteFailureIsReported) {
  TempDir dir;
  dir.write(".system/goals/_index.md/x", "");
  const auto written = goals::write_goals_index(dir.path());
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "写入 goals/_index.md 失败: IO 错误: Is a directory");
}
