// Whole runs of the built command on small workspaces: the failure paths of the
// closing stages and what stays written when a stage fails.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <regex>

#include "cli/entry.hpp"
#include "files/disk.hpp"
#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

using testing_support::run_backfill_binary;
using testing_support::TempDir;

namespace {

constexpr const char* kScanLines =
    "▶ 工作区: ws\n  · 扫描到 2 条记录\n"
    "  · 推断: 目标 1 个（2/2 记录有目标）, 主题 1 个候选（2/2 记录有主题）\n";

constexpr const char* kStageLines =
    "  ✓ goals/ 已生成 (1 个目标 + _index.md)\n"
    "  ✓ graph.json 已重建: 4 节点 (2 record / 1 goal / 1 topic), 5 边\n"
    "  ✓ topics/ 已派生 (1 主题节点 + _index.md)\n"
    "  ✓ record_topics.json 已写入（保持图谱自洽）\n"
    "  ✓ goals/_index.md 已派生\n";

std::string inventory(std::string_view time) {
  return "# 记录\n\n## " + std::string(time) +
         "\n原始文件：a.docx\n相对路径：资料\\项目A\\a.docx\n分类：工作\n";
}

class RunTest : public ::testing::Test {
 protected:
  void add(const std::string& relative, std::string_view content) {
    dir.write("ws/" + relative, content);
  }
  testing_support::CommandResult run(std::vector<std::string> args = {"--root", "ws"}) {
    return run_backfill_binary(args, dir.path());
  }
  TempDir dir;
};

TEST_F(RunTest, FirstRecordFiledUnderTheWrongMonthFailsTheRoundTrip) {
  add("2025/01/2026-07-03-a.md", inventory("09:00"));
  add("2026/07/2026-07-04-b.md", inventory("09:00"));
  const auto result = run();
  EXPECT_EQ(result.status, 1);
#if defined(_WIN32)
  // In the system's own words there.
  EXPECT_TRUE(result.err.starts_with("补全失败: 读取日记文件失败: ")) << result.err;
#else
  EXPECT_EQ(result.err, "补全失败: 读取日记文件失败: No such file or directory\n");
#endif
  EXPECT_TRUE(result.out.ends_with("  ✓ metrics.json: records=2\n")) << result.out;
}

TEST_F(RunTest, FirstRecordNamingAGoalOnItsRatingLineStopsHard) {
  add("2026/07/2026-07-03-a.md", inventory("09:00") + "动2 → 工作\n");
  add("2026/07/2026-07-04-b.md", inventory("09:00"));
  const auto result = run({"--root", "ws", "--emit-golden", "golden"});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.err, "原始记录不应被写入目标行，但读回了 goal=Some(\"工作\")\n");
  EXPECT_TRUE(result.out.ends_with("  ✓ metrics.json: records=2\n")) << result.out;
  EXPECT_FALSE(dir.exists("golden"));
}

TEST_F(RunTest, MisnamedRecordFilesAreSkippedNotFatal) {
  // Each once stopped a run halfway, forged a record id or a goal line.
  for (const char* name : {"meeting-notes.md", "2026-7-1-x.md", "2026-13-01-x.md",
                           "2026-02-30-x.md", "2026-07.md", "2026-070-3-b.md", "2026-1x-03-b.md"}) {
    SCOPED_TRACE(name);
    TempDir fresh;
    fresh.write("ws/2026/07/2026-07-03-a.md", inventory("09:00"));
    fresh.write(std::string("ws/2026/07/") + name, inventory("10:00"));
    const auto result = run_backfill_binary({"--root", "ws"}, fresh.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, std::string("[warn] 跳过无法读取的记录文件: ws/2026/07/") + name +
                              ": 文件名不以有效日期 YYYY-MM-DD 开头\n");
    EXPECT_NE(result.out.find("  · 扫描到 1 条记录\n"), std::string::npos) << result.out;
    EXPECT_EQ(fresh.read("ws/.system/goals/工作.md"), "# 工作\n\n> 0% | —\n- 2026-07-03 a \n");
  }
}

// The disk, with memory running out in a reader thread of the scan or in the
// run's own thread as it writes.
class OutOfMemoryAt : public files::DiskFileSystem {
 public:
  explicit OutOfMemoryAt(std::string_view where) : where_(where) {}
  std::expected<std::string, files::Error> read_record(const std::filesystem::path& path,
                                                       files::Stamp* stamp) const override {
    if (where_ == "read" && path.filename() == "2026-07-04-c.md") throw std::bad_alloc();
    return DiskFileSystem::read_record(path, stamp);
  }
  std::expected<void, files::Error> create_file(const std::filesystem::path& base,
                                                const std::filesystem::path& relative,
                                                const files::Producer& produce) const override {
    if (where_ == "write" && relative.filename() == "graph.json.tmp") throw std::bad_alloc();
    return DiskFileSystem::create_file(base, relative, produce);
  }

 private:
  std::string_view where_;
};

TEST_F(RunTest, RunningOutOfMemoryFailsTheRunAndReplacesNothing) {
  add("2026/07/2026-07-03-a.md", inventory("09:00"));
  ASSERT_EQ(run().status, 0);
  add("2026/07/2026-07-04-c.md", inventory("10:00"));
  const auto ws = dir.path() / "ws";
  const auto files_before = testing_support::masked_files(ws);
  const auto listing_before = testing_support::listing(ws);
  for (const char* where : {"read", "write"}) {
    SCOPED_TRACE(where);
    const OutOfMemoryAt fs(where);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = cli::run({"--root", files::path_text(ws)}, fs);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "补全失败: 内存不足\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(testing_support::listing(ws), listing_before);
    EXPECT_EQ(testing_support::masked_files(ws), files_before);
  }
}

TEST_F(RunTest, SuccessfulRunPrintsEveryStageAndTheGoldenDirectoryAsGiven) {
  add("2026/07/2026-07-03-a.md", inventory("09:00"));
  add("2026/07/2026-07-03-b.md", inventory("10:00"));
  const auto result = run({"--root", "ws", "--emit-golden", "out/../gold"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out,
            std::string(kScanLines) + kStageLines +
                "  ✓ stats/snapshots/ 月末快照已写入\n"
                "  ✓ summary/ 已生成: 月报 1 + 周报 5 + 日报 1\n"
                "  ✓ metrics.json: records=2\n"
                "  ✓ 自检通过: 图谱无悬空边, record 节点 2 = 去重 date+time 键 (2 条记录, 0 "
                "条因同分钟 mtime 合并)\n"
                "  ✓ golden 期望集已导出到 out/../gold\n"
                "  · 写入 20 个文件，0 个未变\n"
                "\n✅ 补全完成。\n");
  EXPECT_TRUE(dir.exists("gold/workspace/README.md"));
}

// Once a workspace has settled, a run with nothing changed replaces no file:
// not a report for its new stamp, nor graph.json, nor a state file.
TEST_F(RunTest, ASettledWorkspaceIsNotRewritten) {
  testing_support::write_inventory_workspace(dir.path() / "ws", 30);
  const std::vector<std::string> args = {"--root", "ws", "--emit-golden", "golden"};
  for (int settling = 0; settling < 3; ++settling) ASSERT_EQ(run(args).status, 0);
#if defined(_WIN32)
  // The disk face's identity: the file's index, size and time of last write.
  const auto identities = [&] {
    std::map<std::string, std::optional<files::FileIdentity>> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
      if (entry.is_directory()) continue;
      out[files::path_text(entry.path())] =
          files::disk().identity(entry.path().parent_path(), entry.path().filename());
      EXPECT_TRUE(out[files::path_text(entry.path())]) << entry.path();
    }
    return out;
  };
#else
  const auto identities = [&] {
    std::map<std::string, std::pair<ino_t, std::int64_t>> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
      struct stat info{};
      EXPECT_EQ(::lstat(entry.path().c_str(), &info), 0);
      out[entry.path().string()] = {info.st_ino,
                                    info.st_mtim.tv_sec * 1'000'000'000 + info.st_mtim.tv_nsec};
    }
    return out;
  };
#endif
  const auto before = identities();
  const auto result = run(args);
  EXPECT_NE(result.out.find("\n  · 写入 0 个文件，"), std::string::npos) << result.out;
  EXPECT_EQ(identities(), before);
}

// One stray byte in a state file must not cost the user its content: each
// unreadable file is copied beside itself once, then replaced.
TEST_F(RunTest, UnreadableStateFilesAreKeptBesideThemselvesOnce) {
  add("2026/07/2026-07-03-a.md", inventory("09:00"));
  add("2026/07/2026-07-03-b.md", inventory("10:00"));
  const std::map<std::string, std::string> broken = {
      // Larger than the one piece read before the parse stops.
      {"graph.json", "\xEF\xBB\xBF{\"nodes\": [], \"edges\": []}" + std::string(3 << 20, ' ')},
      {"record_topics.json", "{\"a.md\": [\"x\""},
      {"metrics.json", "{\"records\": 3, \"organizeCalls\": \"7\"}"},
  };
  for (const auto& [name, content] : broken) add(".system/" + name, content);
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;

  std::string expected_warnings;
  for (const auto& [name, content] : broken) {
    std::vector<std::filesystem::path> copies;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "ws/.system")) {
      if (entry.path().filename().string().starts_with(name + ".bad-"))
        copies.push_back(entry.path());
    }
    ASSERT_EQ(copies.size(), 1u) << name;
    EXPECT_EQ(dir.read("ws/.system/" + copies[0].filename().string()), content);
    EXPECT_NE(dir.read("ws/.system/" + name), content);
    const auto line = "[warn] 无法读取 ws/.system/" + name + "，已保留副本: ws/.system/" +
                      copies[0].filename().string() + "\n";
    EXPECT_NE(result.err.find(line), std::string::npos) << result.err;
    expected_warnings += line;
  }
  EXPECT_EQ(result.err.size(), expected_warnings.size()) << result.err;
  EXPECT_EQ(run().err, "");
}

// A copy that cannot be made stops the run before it replaces the file.
TEST_F(RunTest, AFailedCopyBlocksTheSaveThatWouldReplaceTheFile) {
  add("2026/07/2026-07-03-a.md", inventory("09:00"));
  add(".system/graph.json", "");
  const auto result =
      run_backfill_binary({"--root", "ws"}, dir.path(),
                          {BACKFILL_FAULT_BINARY,
                           {"BACKFILL_FAULT_MATCH=create:.bad-", "BACKFILL_FAULT_DO=28"},
                           false});
  EXPECT_EQ(result.status, 1) << result.err;
  const std::regex expected(
      "补全失败: 保留副本失败: ws/\\.system/graph\\.json\\.bad-\\d{8}T\\d{6}Z: No space left on "
      "device\n");
  EXPECT_TRUE(std::regex_match(result.err, expected)) << result.err;
  EXPECT_EQ(dir.read("ws/.system/graph.json"), "");
  for (const auto& entry : std::filesystem::directory_iterator(dir / "ws/.system")) {
    EXPECT_EQ(entry.path().filename().string().find(".bad-"), std::string::npos) << entry.path();
  }
}

}  // namespace
