// One run, one commit: what a run does when it is stopped, refused or
// overtaken before its commit. The order in which the writer makes files
// durable is checked in the writer's own tests.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <set>
#include <sstream>

#include "files/disk.hpp"
#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::masked_files;
using testing_support::run_backfill_binary;
using testing_support::TempDir;

namespace {

using Files = std::map<std::string, std::string>;

class CommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::write_inventory_workspace(dir_ / "ws", 40);
    ASSERT_EQ(run({}).status, 0);
    // One record more, so that the next run replaces files.
    dir_.write("ws/2026/08/2026-08-20-新增.md",
               "## 10:00\n相对路径：资料\\新主题\\x\n分类：学习/英语\n");
    before_ = masked_files(dir_ / "ws");
  }

  testing_support::CommandResult run(std::vector<std::string> env) const {
    return run_backfill_binary({"--root", "ws"}, dir_.path(),
                               {BACKFILL_FAULT_BINARY, std::move(env), false});
  }

  void expect_unchanged_and_clean() const {
    EXPECT_TRUE(masked_files(dir_ / "ws") == before_) << "files were replaced";
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "ws")) {
      EXPECT_FALSE(files::path_text(entry.path()).ends_with(".tmp")) << "left " << entry.path();
    }
  }

  TempDir dir_;
  Files before_;
};

}  // namespace

TEST_F(CommitTest, ASignalStopsTheRunAndOnlyDuringTheCommitDoesItFinish) {
  struct Case {
    std::string action;
    std::string match;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"int", "create:.system/graph.json", 130, "补全中断: 未改动任何文件\n"},
      {"hup", "create:topics/_index.md", 129, "补全中断: 未改动任何文件\n"},
      {"term", "sync-fs:ws", 143, "补全中断: 未改动任何文件\n"},
      {"int", "rename:.system/graph.json", 130, "补全中断: 已完成写入\n"},
  };
  for (const auto& c : cases) {
#if defined(_WIN32)
    // Nothing on Windows stands for SIGTERM.
    if (c.action == "term") continue;
#endif
    SCOPED_TRACE(c.action + " at " + c.match);
    // What the same run leaves when nothing stops it.
    TempDir reference;
    testing_support::copy_tree(dir_ / "ws", reference / "ws");
    ASSERT_EQ(run_backfill_binary({"--root", "ws"}, reference.path()).status, 0);

    const auto result = run({"BACKFILL_FAULT_MATCH=" + c.match, "BACKFILL_FAULT_DO=" + c.action});
    EXPECT_EQ(result.status, c.status);
    EXPECT_TRUE(result.err.ends_with(c.message)) << result.err;
    EXPECT_EQ(result.out.find("补全完成"), std::string::npos);
    if (c.message.find("未改动") != std::string::npos) {
      expect_unchanged_and_clean();
    } else {
      // Held until the commit was done: every file went in.
      EXPECT_TRUE(masked_files(dir_ / "ws") == masked_files(reference / "ws"));
    }
  }
}

TEST_F(CommitTest, AnInputEditedDuringTheRunIsKeptAndNothingIsReplaced) {
  // The note application saves by atomic rename, just before the commit.
  for (const std::string target :
       {".system/graph.json", ".system/metrics.json", ".system/goals/学习.md"}) {
    SCOPED_TRACE(target);
    const auto path = dir_ / ("ws/" + target);
    const std::string edited = testing_support::slurp(path) + "\n";
    dir_.write("edited", edited);
    const auto result = run({"BACKFILL_FAULT_MATCH=sync-fs:ws", "BACKFILL_FAULT_DO=edit",
                             "BACKFILL_FAULT_EDIT=" + files::path_text(dir_ / "edited") + ":" +
                                 files::path_text(path)});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.ends_with("补全失败: " + target + " 在补全期间被修改，未写入任何文件\n"))
        << result.err;
    EXPECT_EQ(testing_support::slurp(path), edited);
    before_[target] = testing_support::masked(target, edited);
    expect_unchanged_and_clean();
  }
}

TEST_F(CommitTest, AnEditInPlaceThatLeavesSizeAndTimeAloneIsCaughtByTheContent) {
  // As FAT (times to 2 s) or a FUSE driver that keeps times shows a save in
  // place. Each target is loaded its own way: in pieces, whole, as kept text.
  for (const std::string target :
       {".system/graph.json", ".system/metrics.json", ".system/goals/学习.md"}) {
    SCOPED_TRACE(target);
    const auto path = dir_ / ("ws/" + target);
    std::string edited = testing_support::slurp(path);
    edited.back() = edited.back() == '\n' ? ' ' : '\n';
    dir_.write("edited", edited);
    const auto result = run({"BACKFILL_FAULT_MATCH=sync-fs:ws", "BACKFILL_FAULT_DO=rewrite",
                             "BACKFILL_FAULT_EDIT=" + files::path_text(dir_ / "edited") + ":" +
                                 files::path_text(path)});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.ends_with("补全失败: " + target + " 在补全期间被修改，未写入任何文件\n"))
        << result.err;
    before_[target] = testing_support::masked(target, edited);
    expect_unchanged_and_clean();
  }
}

TEST_F(CommitTest, ASecondRunIsRefusedWhileOneHoldsTheWorkspace) {
#if defined(_WIN32)
  // Held as a run holds it, by a file of its own in .system.
  auto held = files::disk().lock_directory(dir_ / "ws", ".system");
  ASSERT_TRUE(held);
  before_ = masked_files(dir_ / "ws");
#else
  const int held = ::open((dir_ / "ws/.system").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
#endif
  const auto refused = run({});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "▶ 工作区: ws\n");
  EXPECT_EQ(refused.err, "补全失败: 另一个 backfill-workspace 正在处理该工作区\n");
  expect_unchanged_and_clean();
  // A dry run takes no lock.
  const auto dry = run_backfill_binary({"--root", "ws", "--dry-run"}, dir_.path());
  EXPECT_EQ(dry.status, 0) << dry.err;
#if defined(_WIN32)
  held->reset();
#else
  ::close(held);
#endif
  EXPECT_EQ(run({}).status, 0);
}

TEST_F(CommitTest, ATemporaryMovedBeforeTheCommitFailsTheRunChangingNothing) {
  // As a second name for the same file on a drive that folds case would.
  const auto temporary = dir_ / "ws/.system/topics/新主题.md.tmp";
  const auto result = run({"BACKFILL_FAULT_MATCH=sync-fs:ws", "BACKFILL_FAULT_DO=edit",
                           "BACKFILL_FAULT_EDIT=" + files::path_text(temporary) + ":" +
                               files::path_text(dir_ / "ws/moved")});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.ends_with(
      "补全失败: ws/.system/topics/新主题.md.tmp 在补全期间被移走或改名，未写入任何文件\n"))
      << result.err;
  fs::remove(dir_ / "ws/moved");
  expect_unchanged_and_clean();
}

TEST_F(CommitTest, WithTheFallbacksEachFileAndDirectoryIsFlushedBeforeTheFirstRename) {
  // As where the system has no syncfs and no rename that must not replace.
  const std::string unreadable = "\xEF\xBB\xBF{}";
  dir_.write("ws/.system/metrics.json", unreadable);
  const auto log = dir_ / "steps.log";
  const auto result =
      run({"BACKFILL_PORTABLE_FALLBACKS=1", "BACKFILL_FAULT_LOG=" + files::path_text(log)});
  ASSERT_EQ(result.status, 0) << result.err;
  std::set<std::string> staged, flushed;
  bool committing = false;
  std::istringstream steps(testing_support::slurp(log));
  for (std::string index, step, path;
       steps >> index >> step && std::getline(steps >> std::ws, path);) {
    if (committing && step == "rename") break;
    // The writer's probes come and go before the commit.
    if (path.find(files::kProbeName) != std::string::npos) continue;
    committing = committing || step == "sync-fs";
    if (step == "create") staged.insert(path);
    if (step == "remove") staged.erase(path);
    if (path.ends_with('/')) path.pop_back();
    if (step == "sync-file" || step == "sync-dir") flushed.insert(path);
  }
  for (const auto& file : staged) {
    EXPECT_TRUE(flushed.contains(file)) << file;
    EXPECT_TRUE(flushed.contains(files::generic_path_text(files::utf8_path(file).parent_path())))
        << file;
  }
  const auto kept = std::ranges::find_if(staged, [](const std::string& file) {
    return file.starts_with("ws/.system/metrics.json.bad-");
  });
  ASSERT_NE(kept, staged.end());
#if defined(_WIN32)
  // Windows renames without replacing: the copy is staged as any file is.
  ASSERT_TRUE(kept->ends_with(".tmp")) << *kept;
  const auto copy = kept->substr(0, kept->size() - 4);
#else
  // Made under its own name, so no rename had to keep that name free.
  EXPECT_FALSE(kept->ends_with(".tmp")) << *kept;
  const auto& copy = *kept;
#endif
  EXPECT_EQ(testing_support::slurp(dir_ / copy), unreadable);
}
