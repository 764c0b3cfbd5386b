// Workspaces from elsewhere: planted links, special and unreadable entries,
// names that cannot be file names. Nothing outside the workspace may change,
// and the run may neither hang nor crash.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::run_backfill_binary;
using testing_support::TempDir;

namespace {

const std::string kLoop = "Too many levels of symbolic links";

testing_support::RunOptions as_nobody() {
  testing_support::RunOptions options;
  options.unprivileged = true;
  return options;
}

class HostileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::write_inventory_workspace(ws(), 30);
    outside_.write("sentinel.sh", "#!/bin/sh\necho untouched\n");
    outside_.write("sentinel-dir/keep.md", "keep");
    before_ = testing_support::masked_files(outside_.path());
  }

  fs::path ws() const { return dir_ / "ws"; }

  void plant(const fs::path& at, const fs::path& to) const {
    fs::create_directories((ws() / at).parent_path());
    fs::create_symlink(to, ws() / at);
  }

  testing_support::CommandResult run(testing_support::RunOptions options = {}) const {
    return run_backfill_binary({"--root", "ws", "--emit-golden", "golden"}, dir_.path(), options);
  }

  void expect_outside_untouched() const {
    EXPECT_EQ(testing_support::masked_files(outside_.path()), before_);
  }

  // Hands the workspace to the unprivileged user the run switches to.
  void give_away() const {
    if (!testing_support::running_as_root()) return;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chown(dir_.path().c_str(), 65534, 65534), 0);
  }

  TempDir dir_;
  TempDir outside_;
  std::map<std::string, std::string> before_;
};

}  // namespace

TEST_F(HostileTest, PlantedLinksNeverLeadAWriteOutsideTheWorkspace) {
  struct Case {
    fs::path at;
    std::string to;
    std::string failure;
  };
  const std::string io = "IO 错误: " + kLoop;
  const std::vector<Case> cases = {
      {".system/goals/生活.md", "sentinel.sh", "创建目标文件失败: " + io},
      {".system/goals/工作", "sentinel-dir", "创建目标文件失败: " + io},
      // A link at a temporary name is a killed run's leftover: removed, not followed.
      {".system/graph.json.tmp", "sentinel.sh", ""},
      {".system/graph.json", "sentinel.sh", "写入 graph.json 失败: " + io},
      {".system/record_topics.json", "sentinel.sh", "写入 record_topics.json 失败: " + io},
      {".system/metrics.json", "sentinel.sh", "写入 metrics 失败: " + io},
      {".system/stats/snapshots/2026-05-31.json", "sentinel.sh", "写入快照失败: " + io},
      {".system", "sentinel-dir", "创建 .system 目录失败: " + kLoop},
      {".system/topics", "sentinel-dir", "创建 .system 目录失败: " + kLoop},
      {"summary", "sentinel-dir", "创建 summary 目录失败: " + kLoop},
      {"../golden/workspace/README.md", "sentinel.sh", "写入 golden README 失败: " + kLoop},
      {"../golden/workspace", "sentinel-dir", "创建 golden 目录失败: " + kLoop},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.at.string());
    fs::remove_all(ws() / ".system");
    fs::remove_all(ws() / "summary");
    fs::remove_all(dir_ / "golden");
    plant(c.at, outside_ / c.to);
    const auto result = run();
    EXPECT_EQ(result.status, c.failure.empty() ? 0 : 1);
    EXPECT_TRUE(result.err.ends_with(c.failure.empty() ? "" : "补全失败: " + c.failure + "\n"))
        << result.err;
    expect_outside_untouched();
    fs::remove(ws() / c.at);
  }
}

TEST_F(HostileTest, HardLinksAtTemporaryNamesNeverReceiveTheRunsBytes) {
  ASSERT_EQ(run().status, 0);
  // One more record, so that the indexes and the July report change too.
  dir_.write("ws/2026/07/2026-07-21-新增.md", "## 10:00\n分类：工作\n相对路径：资料\\项目A\\x\n");
  for (const char* temporary :
       {".system/graph.json.tmp", ".system/metrics.json.tmp", ".system/goals/_index.md.tmp",
        ".system/topics/_index.md.tmp", "summary/monthly/2026-07.md.tmp"}) {
    fs::create_hard_link(outside_ / "sentinel.sh", ws() / temporary);
  }
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;
  expect_outside_untouched();
  for (const auto& entry : fs::recursive_directory_iterator(ws())) {
    EXPECT_FALSE(entry.path().native().ends_with(".tmp")) << entry.path();
  }
}

TEST_F(HostileTest, SpecialRecordFilesAreSkippedAtOnce) {
  const auto fifo = ws() / "2026/07/2026-07-05-管道.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  plant("2026/07/2026-07-06-零.md", "/dev/zero");
  fs::create_directories(ws() / "2026/07/2026-07-07-目录.md");
  const auto start = std::chrono::steady_clock::now();
  const auto result = run();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(result.status, 0) << result.err;
  for (const char* name : {"2026-07-05-管道.md", "2026-07-06-零.md", "2026-07-07-目录.md"}) {
    EXPECT_NE(result.err.find(std::string("[warn] 跳过无法读取的记录文件: ws/2026/07/") + name +
                              ": 不是普通文件\n"),
              std::string::npos)
        << result.err;
  }
}

TEST_F(HostileTest, AnUnlistableMonthIsReported) {
  give_away();
  ASSERT_EQ(::chmod((ws() / "2026/06").c_str(), 0), 0);
  const auto result = run(as_nobody());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.err.starts_with("[warn] 跳过无法读取的目录: ws/2026/06: Permission denied\n"))
      << result.err;
}

TEST_F(HostileTest, AGoalsDirectoryThatCannotBeWrittenFailsTheGoalStage) {
  ASSERT_EQ(run().status, 0);
  // A goal file that already holds its bytes is not written at all.
  dir_.write("ws/2026/07/2026-07-21-新增.md", "## 10:00\n分类：生活\n");
  give_away();
  const auto topics_before = testing_support::masked_files(ws() / ".system/topics");
  ASSERT_EQ(::chmod((ws() / ".system/goals").c_str(), 0555), 0);
  const auto result = run(as_nobody());
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.ends_with("补全失败: 重置目标文件失败: Permission denied\n")) << result.err;
  EXPECT_EQ(testing_support::masked_files(ws() / ".system/topics"), topics_before);
}

TEST_F(HostileTest, NamesThatCannotBeFileNamesAreRefused) {
  const std::string nul_goal("工\0作", 7);
  const std::string nul_topic("项\0目", 7);
  const std::string long_goal(249, 'g');  // 256 bytes with ".md.tmp"
  dir_.write("ws/2026/07/2026-07-09-坏名.md", "## 09:00\n分类：" + nul_goal +
                                                 "\n相对路径：资料\\" + nul_topic + "\\x\n");
  dir_.write("ws/2026/07/2026-07-10-长名.md", "## 09:00\n分类：" + long_goal + "\n");
  dir_.write("ws/2026/07/2026-07-11-长节.md", "## 09:00\n分类：学习/" + long_goal + "\n");
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;
  for (const auto& name : {nul_goal, long_goal, "学习/" + long_goal, nul_topic}) {
    EXPECT_NE(result.err.find("[warn] 跳过不安全的路径名: 「" + name + "」\n"), std::string::npos)
        << name;
  }
  for (const auto& entry : fs::recursive_directory_iterator(ws() / ".system")) {
    EXPECT_LT(entry.path().filename().string().size(), 250u) << entry.path();
  }
  EXPECT_FALSE(fs::exists(ws() / ".system/goals/工"));
  EXPECT_FALSE(fs::exists(ws() / ".system/topics/项"));
}
