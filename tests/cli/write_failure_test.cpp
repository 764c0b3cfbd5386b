// Fails one write step of a run at every stage and checks the run's failure
// text and status, and that a failure before the commit replaces nothing and
// leaves no temporary, while one during the commit leaves each file old or new.

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <sstream>

#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"
#include "util/fallbacks.hpp"

namespace fs = std::filesystem;
using testing_support::masked_files;
using testing_support::run_backfill_binary;
using testing_support::TempDir;

namespace {

using Files = std::map<std::string, std::string>;

struct Case {
  // The step to fail: its kind, the end of its path and which such step.
  std::string kind;
  std::string path;
  int occurrence = 1;
  // What the run prints last on standard error, or the warning it goes on with.
  std::string message;
  int status = 1;
};

const std::string kNoSpace = "No space left on device";

class WriteFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A workspace after one run, with one record more, so this run changes
    // files; a golden export is asked for, into the workspace's parent.
    testing_support::write_inventory_workspace(state_ / "ws", 40);
    ASSERT_EQ(run_backfill_binary({"--root", "ws"}, state_.path()).status, 0);
    state_.write("ws/2026/08/2026-08-20-新增.md",
                 "## 10:00\n相对路径：资料\\新主题\\x.docx\n分类：学习/英语\n");
    // A derived file that already holds its bytes is not rewritten; these
    // would not change (a report when it is stamped in the same second), so they
    // are removed to make this run write them.
    for (const char* unchanged :
         {".system/goals/_index.md", ".system/stats/snapshots/2026-08-31.json",
          "summary/weekly/2026-w27.md"}) {
      std::filesystem::remove(state_ / "ws" / unchanged);
    }
    // Goal files the run resets, holding a line it drops.
    for (const char* reset : {".system/goals/工作.md", ".system/goals/生活.md"}) {
      state_.write(std::string("ws/") + reset,
                   state_.read(std::string("ws/") + reset) + "- 手写\n");
    }
    old_ = masked_files(state_ / "ws");

    TempDir& reference = copy();
    const auto log = reference / "steps.log";
    const auto result = run(reference, {"BACKFILL_FAULT_LOG=" + files::path_text(log)});
    ASSERT_EQ(result.status, 0) << result.err;
    new_ = masked_files(reference / "ws");
    std::istringstream in(testing_support::slurp(log));
    long index = 0;
    std::string kind;
    std::string path;
    while (in >> index >> kind && std::getline(in >> std::ws, path)) steps_.push_back({kind, path});
  }

  TempDir& copy() {
    copies_.emplace_back();
    testing_support::copy_tree(state_.path(), copies_.back().path());
    return copies_.back();
  }

  static testing_support::CommandResult run(const TempDir& dir, std::vector<std::string> env) {
    return run_backfill_binary({"--root", "ws", "--emit-golden", "golden"}, dir.path(),
                               {BACKFILL_FAULT_BINARY, std::move(env), false});
  }

  // The index of the step a case fails, in the reference run's order.
  long step_of(const Case& c) const {
    int seen = 0;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      if (steps_[i].first == c.kind && steps_[i].second.find(c.path) != std::string::npos &&
          ++seen == c.occurrence) {
        return static_cast<long>(i);
      }
    }
    return -1;
  }

  void check(const Case& c, bool before_commit = true) {
    SCOPED_TRACE(c.kind + " " + c.path);
    ASSERT_GE(step_of(c), 0) << "no such step";
    TempDir& dir = copy();
    // Matched by kind and path, not by number: a run does not rewrite a report
    // stamped in the same second as the one on disk, so step numbers vary.
    const auto result =
        run(dir, {"BACKFILL_FAULT_MATCH=" + c.kind + ":" + c.path,
                  "BACKFILL_FAULT_NTH=" + std::to_string(c.occurrence), "BACKFILL_FAULT_DO=28"});
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(result.err.ends_with("补全失败: " + c.message + "\n")) << result.err;
    EXPECT_EQ(result.out.find("补全完成"), std::string::npos);
    const Files after = masked_files(dir / "ws");
    if (before_commit) {
      EXPECT_TRUE(after == old_) << "a failed run replaced files";
      EXPECT_FALSE(fs::exists(dir / "golden/workspace/README.md"));
    }
    for (const auto& [path, content] : after) {
      const bool is_old = old_.contains(path) && old_.at(path) == content;
      const bool is_new = new_.contains(path) && new_.at(path) == content;
      EXPECT_TRUE(is_old || is_new) << "partial " << path;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      EXPECT_FALSE(files::path_text(entry.path()).ends_with(".tmp")) << "left " << entry.path();
    }
  }

  TempDir state_;
  std::deque<TempDir> copies_;
  Files old_;
  Files new_;
  std::vector<std::pair<std::string, std::string>> steps_;
};

}  // namespace

TEST_F(WriteFailureTest, EveryStageEndsTheRunWithItsTextAndReplacesNothing) {
  const std::string io = "IO 错误: " + kNoSpace;
  std::vector<Case> cases = {
      {"create", "goals/工作.md", 1, "重置目标文件失败: " + kNoSpace},
      {"write-half", "goals/生活.md", 1, "重置目标文件失败: " + kNoSpace},
      {"create", "goals/学习.md", 1, "写入目标文件失败: " + io},
      {"create", ".system/graph.json", 1, "写入 graph.json 失败: " + io},
      {"write-half", ".system/graph.json", 1, "写入 graph.json 失败: " + io},
      {"create", "topics/_index.md", 1, "写入 topics/_index.md 失败: " + io},
      {"create", "topics/新主题.md", 1, "写入主题文件 新主题 失败: " + io},
      {"write-half", "record_topics.json", 1, "写入 record_topics.json 失败: " + io},
      {"create", "goals/_index.md", 1, "写入 goals/_index.md 失败: " + io},
      {"create", "snapshots/2026-08-31.json", 1, "写入快照失败: " + io},
      {"write-half", "summary/weekly/2026-w27.md", 1, "写入 summary 缓存失败: " + io},
      {"create", "metrics.json", 1, "写入 metrics 失败: " + io},
      {"mkdir", "golden/workspace", 1, "创建 golden 目录失败: " + kNoSpace},
      {"create", "graph_expected.json", 1,
       "写入 golden/workspace/graph_expected.json 失败: " + kNoSpace},
      {"create", "README.md", 1, "写入 golden README 失败: " + kNoSpace},
      {"sync-fs", "ws", 1, "同步到磁盘失败: " + kNoSpace},
  };
  if (fallbacks::forced()) {
    cases.push_back({"sync-file", "graph.json.tmp", 1, "同步到磁盘失败: " + kNoSpace});
  }
  for (const auto& c : cases) check(c);
  // A rename that fails part way through the commit ends the run with its
  // file's text; what was renamed before it is new, the rest old.
  check({"rename", "topics/新主题.md", 1, "写入主题文件 新主题 失败: " + io}, false);
}
