#include "goals/goal_store.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "files/path_text.hpp"
#include "goals/goals_index.hpp"
#include "graph/ids.hpp"
#include "support/memory_file_system.hpp"
#include "support/output_files.hpp"

namespace fs = std::filesystem;
using testing_support::MemoryFileSystem;

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

const std::vector<journal::JournalEntry> kRecords = {
    record("2026-06-28", "季度复盘", "工作"),      record("2026-07-01", "无目标", std::nullopt),
    record("2026-07-02", "晨会", "工作"),          record("2026-07-02", "晨会", "工作"),
    record("2026-07-05", "英语听力", "学习/英语"), record("2026-07-06", "算法题", "学习/ 算法 "),
    record("2026-07-07", "外面", "../../x"),       record("2026-07-09", "家庭预算", "生活"),
    record("2026-07-12", "周报", "工作/周报"),     record("2026-07-13", "同名", "学习/英语"),
    record("2026-07-13", "同名", "学习/英语"),
};

using PathsAndPrefixes = std::vector<std::pair<std::string, std::string>>;

// Each file's path in normal form with its failure prefix, in staging order.
PathsAndPrefixes paths_and_prefixes(const files::OutputFiles& files) {
  PathsAndPrefixes out;
  for (const auto& file : files) {
    out.emplace_back(files::generic_path_text(file.path.lexically_normal()), file.failure_prefix);
  }
  return out;
}

}  // namespace

// The user goal 学习 has sections and is not among the run's goals: its lines
// go into its sections once, and a second run finds nothing to add to it.
TEST(GoalFilesTest, RunGoalsInOrderThenFilesReceivingLinesAndASecondRunAddsNothing) {
  MemoryFileSystem memory;
  memory.write("/ws/.system/goals/学习.md",
               "# 学习\n\n> 30% | 每天一小时\n\n## 英语 50%\n\n- 2026-06-30 旧记录 \n\n## 算法\n");
  memory.write("/ws/.system/goals/工作.md",
               "# 工作\n\n> 10% | 旧\n\n## 周报\n- 2026-07-12 周报 \n");
  // e1 dangles once the first goal is in, so it goes although its node is
  // added later; e2 names the first goal and stays.
  memory.write("/ws/.system/graph.json", R"({"nodes": [{"type": "topic", "id": "t_a", "name": "a"}],
    "edges": [{"id": "e1", "from": "t_a", "to": "g_工作_周报"},
              {"id": "e2", "from": "t_a", "to": "g_生活"}]})");
  // "./生活" and "生活" name one file.
  const std::vector<std::string> goal_list = {"./生活",    "/tmp/x", "_index",    "../escape",
                                              "学习/英语", "工作",   "工作/周报", "生活"};
  std::ostringstream err;
  store::Workspace workspace("/ws", memory);
  const auto output = goals::goal_files(workspace, goal_list, kRecords, err);
  ASSERT_TRUE(output) << output.error();

  const std::string create = "创建目标文件失败: IO 错误: ";
  EXPECT_EQ(paths_and_prefixes(output->files),
            (PathsAndPrefixes{{".system/goals/生活.md", create},
                              {".system/goals/学习/英语.md", create},
                              {".system/goals/工作.md", "重置目标文件失败: "},
                              {".system/goals/工作/周报.md", create},
                              {".system/goals/学习.md", "写入目标文件失败: IO 错误: "}}));
  const auto texts = testing_support::contents(output->files);
  EXPECT_EQ(texts.at(".system/goals/工作.md"),
            "# 工作\n\n> 0% | —\n- 2026-06-28 季度复盘 \n- 2026-07-02 晨会 \n- 2026-07-02 晨会 \n"
            "- 2026-07-12 周报 \n");
  const std::string learning =
      "# 学习\n\n> 30% | 每天一小时\n\n## 英语 50%\n\n- 2026-06-30 旧记录 \n\n"
      "- 2026-07-05 英语听力 \n- 2026-07-13 同名 \n- 2026-07-13 同名 \n"
      "## 算法\n- 2026-07-06 算法题 \n";
  EXPECT_EQ(texts.at(".system/goals/学习.md"), learning);
  EXPECT_EQ(texts.at(".system/goals/生活.md"), "# 生活\n\n> 0% | —\n- 2026-07-09 家庭预算 \n");
  for (const auto& [path, text] : texts) {
    EXPECT_EQ(output->texts.at(files::utf8_path(path)), text) << path;
  }
  // A file the run keeps lines of is an input the commit checks.
  EXPECT_TRUE(workspace.inputs().all().contains(files::utf8_path(".system/goals/学习.md")));
  EXPECT_EQ(err.str(),
            "[warn] 跳过不安全的路径名: 「/tmp/x」\n[warn] 跳过不安全的路径名: 「_index」\n"
            "[warn] 跳过不安全的路径名: 「../escape」\n");

  // Every goal has its node, the unsafe ones too.
  ASSERT_TRUE(output->graph);
  const graph::NodeIds ids(*output->graph);
  for (const auto& goal : goal_list) EXPECT_TRUE(ids.contains(graph::goal_node_id(goal))) << goal;
  ASSERT_EQ(output->graph->edges.size(), 1u);
  EXPECT_EQ(output->graph->edges[0].id(), "e2");

  for (const auto& [path, text] : texts) memory.write("/ws/" + path, text);
  store::Workspace rerun("/ws", memory);
  std::ostringstream rerun_err;
  const auto again = goals::goal_files(rerun, {"学习/英语", "工作"}, kRecords, rerun_err);
  ASSERT_TRUE(again) << again.error();
  EXPECT_EQ(again->files.size(), 2u);
  EXPECT_EQ(again->texts.at(files::utf8_path(".system/goals/学习.md")), learning);
}

TEST(GoalFilesTest, OnlyAFileThatKeepsItsLinesMustBeReadable) {
  const std::string torn = "# 工作\n\xe5\xb7";
  MemoryFileSystem memory;
  memory.write("/ws/.system/goals/工作.md", torn);
  std::ostringstream err;
  store::Workspace workspace("/ws", memory);
  // Reset by the run: read as a new goal's text.
  const auto reset = goals::goal_files(workspace, {"工作"}, kRecords, err);
  ASSERT_TRUE(reset) << reset.error();
  EXPECT_TRUE(reset->texts.at(files::utf8_path(".system/goals/工作.md"))
                  .starts_with("# 工作\n\n> 0% | —\n- 2026-06-28"));
  // Receiving lines only: the stage fails, and without goals there is no graph.
  const auto kept = goals::goal_files(workspace, {}, kRecords, err);
  ASSERT_FALSE(kept);
  EXPECT_EQ(kept.error(), "读取目标文件失败: 不是有效的 UTF-8 文本");
  ASSERT_TRUE(memory.remove("/ws", files::utf8_path(".system/goals/工作.md")));
  const auto none = goals::goal_files(workspace, {}, kRecords, err);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->graph);
  EXPECT_TRUE(none->files.empty());
}

TEST(GoalsIndexTest, ListsGoalFilesAndTheRunsTextsSortedByNameBytes) {
  MemoryFileSystem memory;
  memory.make_directory("/ws");
  const auto index = [&](const goals::KnownTexts& known = {}) {
    return testing_support::bytes_of(
        goals::goals_index_file(store::Workspace("/ws", memory), known));
  };
  EXPECT_EQ(index(), "# 目标\n\n");

  memory.write("/ws/.system/goals/学习.md", "# 学习\n> 90% | 旧\n");
  memory.write("/ws/.system/goals/写作.md",
               "# 写作\n> 40% | 进行中\n## 初稿 60%\n- 2026-07-01 x \n## 定稿\n");
  memory.write("/ws/.system/goals/b.md", "> 1% |\n");
  for (const auto* name :
       {"B.md", "a b.md", "a.md", "notes.MD", "notes.txt", "sub.md/inner.md", "学习/英语.md"}) {
    memory.write(std::string("/ws/.system/goals/") + name, "");
  }
  memory.write("/ws/.system/goals/bad.md", "\xff");
  // The run's texts stand for files on disk and for files not written yet.
  const goals::KnownTexts known = {
      {files::utf8_path(".system/goals/学习.md"), goals::new_goal_text("学习")},
      {".system/goals/c.md", goals::new_goal_text("c")}};
  EXPECT_EQ(index(known),
            "# 目标\n\nB 0% \n\na 0% \n\na b 0% \n\nb 1% \n\nc 0% —\n\n"
            "写作 40% 进行中\n  初稿 60%\n  定稿 0%\n\n学习 0% —\n\n");
}
