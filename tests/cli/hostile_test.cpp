// Workspaces from elsewhere: planted links, special and unreadable entries,
// names that cannot be file names. Nothing outside the workspace may change,
// and the run may neither hang nor crash.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <fstream>

#include <nlohmann/json.hpp>

#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"
#include "util/text.hpp"

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
#if !defined(_WIN32)
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(::chown(dir_.path().c_str(), 65534, 65534), 0);
#endif
  }

  TempDir dir_;
  TempDir outside_;
  std::map<std::string, std::string> before_;
};

}  // namespace

TEST_F(HostileTest, PlantedLinksNeverLeadAWriteOutsideTheWorkspace) {
#if defined(_WIN32)
  GTEST_SKIP() << "wine makes no symbolic links or junctions";
#endif
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
    EXPECT_FALSE(files::path_text(entry.path()).ends_with(".tmp")) << entry.path();
  }
}

TEST_F(HostileTest, SpecialRecordFilesAreSkippedAtOnce) {
#if defined(_WIN32)
  GTEST_SKIP() << "wine makes no FIFOs and no links to devices";
#else
  const auto fifo = ws() / "2026/07/2026-07-05-管道.md";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  plant("2026/07/2026-07-06-零.md", "/dev/zero");
  fs::create_directories(ws() / "2026/07/2026-07-07-目录.md");
  // Sparse: 30 GB on the books, nothing on the disk.
  std::ofstream(ws() / "2026/07/2026-07-08-巨大.md");
  fs::resize_file(ws() / "2026/07/2026-07-08-巨大.md", 30'000'000'000);
  const auto start = std::chrono::steady_clock::now();
  const auto result = run();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(result.status, 0) << result.err;
  for (const char* name : {"2026-07-05-管道.md: 不是普通文件", "2026-07-06-零.md: 不是普通文件",
                           "2026-07-07-目录.md: 不是普通文件",
                           "2026-07-08-巨大.md: 文件过大（30000000000 字节，上限 16 MiB）"}) {
    EXPECT_NE(result.err.find(std::string("[warn] 跳过无法读取的记录文件: ws/2026/07/") + name),
              std::string::npos)
        << result.err;
  }
#ifndef BACKFILL_SANITIZED
  struct rusage usage{};
  ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 100 * 1024) << "peak KiB";
#endif
#endif
}

// A record the scan cannot use for one run keeps its node and the user's
// links through that run and the next; one deleted on another date does not.
TEST_F(HostileTest, ARecordSkippedForOneRunKeepsTheUsersLinks) {
  const std::string record = "r_20260608_1305";  // 2026/06/2026-06-08-文档5.md
  const auto graph_file = ws() / ".system/graph.json";
  const auto has = [&](const char* list, const std::string& id) {
    const auto graph = nlohmann::json::parse(testing_support::slurp(graph_file));
    return std::ranges::any_of(graph[list], [&](const auto& item) { return item["id"] == id; });
  };
  const auto file = ws() / files::utf8_path("2026/06/2026-06-08-文档5.md");
  const auto month = ws() / "2026/06";
  for (const bool whole_month : {false, true}) {
#if defined(_WIN32)
    // A month that cannot be read needs Unix permissions, which wine lacks.
    if (whole_month) continue;
#endif
    SCOPED_TRACE(whole_month);
    fs::remove_all(ws());
    testing_support::write_inventory_workspace(ws(), 30);
    ASSERT_EQ(run().status, 0);
    auto graph = nlohmann::json::parse(testing_support::slurp(graph_file));
    graph["edges"].push_back({{"id", "mine"},
                              {"from", record},
                              {"to", "t_读书会"},
                              {"weight", 1.0},
                              {"source", "user"},
                              {"confirmed", true}});
    std::ofstream(graph_file, std::ios::trunc | std::ios::binary) << graph.dump();
    // 2026-08-22-文档3.md, on a date nothing covers.
    fs::remove(ws() / files::utf8_path("2026/08/2026-08-22-文档3.md"));
    give_away();
    if (whole_month) {
#if !defined(_WIN32)
      ASSERT_EQ(::chmod(month.c_str(), 0), 0);
#endif
    } else {
      std::ofstream(file, std::ios::app | std::ios::binary) << '\xff';
    }
    const auto skipped = run(as_nobody());
    EXPECT_EQ(skipped.status, 0) << skipped.err;
    EXPECT_EQ(skipped.err, whole_month
                               ? "[warn] 跳过无法读取的目录: ws/2026/06: Permission denied\n"
                                 "[warn] 保留了 7 个未能读取的记录在图谱中的节点\n"
                               : "[warn] 跳过无法读取的记录文件: ws/2026/06/2026-06-08-文档5.md: "
                                 "不是有效的 UTF-8 文本\n"
                                 "[warn] 保留了 1 个未能读取的记录在图谱中的节点\n");
    if (whole_month) {
#if !defined(_WIN32)
      ASSERT_EQ(::chmod(month.c_str(), 0755), 0);
#endif
    } else {
      fs::resize_file(file, fs::file_size(file) - 1);
    }
    for (int pass = 0; pass < 2; ++pass) {
      EXPECT_TRUE(has("nodes", record));
      EXPECT_TRUE(has("edges", "mine"));
      EXPECT_TRUE(has("edges", "e_" + record + "_g_阅读"));
      EXPECT_FALSE(has("nodes", "r_20260822_1103"));
      if (pass == 0) {
        EXPECT_EQ(run(as_nobody()).err, "");
      }
    }
  }
}

TEST_F(HostileTest, AGoalsDirectoryThatCannotBeWrittenFailsTheGoalStage) {
#if defined(_WIN32)
  GTEST_SKIP() << "wine keeps no Unix permissions: no directory refuses a new file";
#else
  ASSERT_EQ(run().status, 0);
  // A goal file that already holds its bytes is not written at all.
  dir_.write("ws/2026/07/2026-07-21-新增.md", "## 10:00\n分类：生活\n");
  give_away();
  const auto topics_before = testing_support::masked_files(ws() / ".system/topics");
  ASSERT_EQ(::chmod((ws() / ".system/goals").c_str(), 0555), 0);
  const auto result = run(as_nobody());
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.ends_with("补全失败: 重置目标文件失败: Permission denied\n"))
      << result.err;
  EXPECT_EQ(testing_support::masked_files(ws() / ".system/topics"), topics_before);
#endif
}

// Line breaks and terminal escapes in names and titles never reach a derived
// Markdown file as such, so no line there can be forged.
TEST_F(HostileTest, ControlCharactersNeverBreakADerivedLine) {
  const std::string forged = "\n## 伪造标题\n- 2099-01-01 FORGED\n<img src=x onerror=alert(1)>";
  // Windows takes no line break, '<' or '>' in a file name.
#if !defined(_WIN32)
  dir_.write("ws/2026/07/2026-07-05-x" + forged + ".md", "## 09:00\n分类：工作\n");
#endif
  dir_.write("ws/2026/07/2026-07-06.md", "# 标题\r## 伪造标题\n\n## 09:00\n分类：工作\n");
  dir_.write("ws/2026/07/2026-07-07-回车.md",
             "## 09:00\n分类：工作\r## 伪造标题\n相对路径：资料\\项目\x1b[2J\\x\n");
  ASSERT_EQ(run().status, 0);
  const auto graph_file = ws() / ".system/graph.json";
  auto graph = nlohmann::json::parse(testing_support::slurp(graph_file));
  graph["nodes"].push_back(
      {{"type", "topic"}, {"id", "t_伪造"}, {"name", "项目" + forged}, {"x", 0.0}, {"y", 0.0}});
  std::ofstream(graph_file, std::ios::trunc | std::ios::binary) << graph.dump();
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;
#if !defined(_WIN32)
  EXPECT_NE(result.err.find("2026-07-05-x\\u000a## 伪造标题\\u000a- 2099-01-01"),
            std::string::npos);
#endif
  EXPECT_NE(result.err.find("「工作\\u000d## 伪造标题」"), std::string::npos) << result.err;
  std::size_t checked = 0;
  for (const char* dir : {".system", "summary"}) {
    for (const auto& entry : fs::recursive_directory_iterator(ws() / dir)) {
      if (entry.path().extension() != ".md") continue;
      ++checked;
      const auto content = testing_support::slurp(entry.path());
      EXPECT_FALSE(std::ranges::any_of(content, [](char c) {
        return c != '\n' && text::is_control(c);
      })) << entry.path();
      for (const char* line : {"\n## 伪造", "\n- 2099", "\n<img"}) {
        EXPECT_EQ(content.find(line), std::string::npos) << entry.path();
      }
    }
  }
  EXPECT_GT(checked, 20u);
}

TEST_F(HostileTest, NamesThatCannotBeFileNamesAreRefused) {
  const std::string nul_goal("工\0作", 7);
  const std::string nul_topic("项\0目", 7);
  const std::string long_goal(249, 'g');  // 256 bytes with ".md.tmp"
  dir_.write("ws/2026/07/2026-07-09-坏名.md",
             "## 09:00\n分类：" + nul_goal + "\n相对路径：资料\\" + nul_topic + "\\x\n");
  dir_.write("ws/2026/07/2026-07-10-长名.md", "## 09:00\n分类：" + long_goal + "\n");
  dir_.write("ws/2026/07/2026-07-11-长节.md", "## 09:00\n分类：学习/" + long_goal + "\n");
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;
  for (const auto& name :
       {std::string("工\\u0000作"), long_goal, "学习/" + long_goal, std::string("项\\u0000目")}) {
    EXPECT_NE(result.err.find("[warn] 跳过不安全的路径名: 「" + name + "」\n"), std::string::npos)
        << name;
  }
  for (const auto& entry : fs::recursive_directory_iterator(ws() / ".system")) {
    EXPECT_LT(files::path_text(entry.path().filename()).size(), 250u) << entry.path();
  }
  EXPECT_FALSE(fs::exists(ws() / files::utf8_path(".system/goals/工")));
  EXPECT_FALSE(fs::exists(ws() / files::utf8_path(".system/topics/项")));
}
