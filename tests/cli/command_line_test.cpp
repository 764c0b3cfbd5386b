// The command's argument handling, run in process on a file system in memory:
// exact standard output, standard error and exit status.

#include <gtest/gtest.h>

#include "cli/entry.hpp"
#include "cli/options.hpp"
#include "support/memory_file_system.hpp"

using testing_support::MemoryFileSystem;

namespace {

constexpr const char* kUsageLine =
    "用法: backfill-workspace --root <workspace> [--dry-run] [--emit-golden <dir>]\n";

struct ArgumentCase {
  std::vector<std::string> args;
  std::string err;
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class CommandLineTest : public ::testing::Test {
 protected:
  // Runs the command with `args` as the process would, on `fs`.
  RunResult run(const std::vector<std::string>& args) const {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    RunResult result;
    result.status = cli::run(args, fs);
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
  }
  MemoryFileSystem fs;
};

TEST_F(CommandLineTest, ArgumentErrorsExitWithStatusTwo) {
  fs.write("a-file", "x");
  const ArgumentCase cases[] = {
      {{}, "参数错误: 缺少 --root <workspace>\n"},
      {{"--dry-run"}, "参数错误: 缺少 --root <workspace>\n"},
      {{"--root"}, "参数错误: --root 需要一个参数\n"},
      {{"--root", "ws", "--emit-golden"}, "参数错误: --emit-golden 需要一个目录参数\n"},
      {{"--bogus", "--help"}, "参数错误: 未知参数: --bogus\n"},
      {{"--root=ws"}, "参数错误: 未知参数: --root=ws\n"},
      {{"-rh"}, "参数错误: 未知参数: -rh\n"},
      {{"--root", "missing"}, "参数错误: 工作区目录不存在: missing\n"},
      {{"--root", "a-file"}, "参数错误: 工作区目录不存在: a-file\n"},
      // The value after --root is taken whatever it looks like.
      {{"--root", "--dry-run"}, "参数错误: 工作区目录不存在: --dry-run\n"},
      {{"--root", "a\xFF"}, "参数错误: 参数不是有效的 UTF-8: a\uFFFD\n"},
  };
  for (const auto& [args, err] : cases) {
    const auto result = run(args);
    EXPECT_EQ(result.status, 2) << err;
    EXPECT_EQ(result.out, "");
    // A usage error points at --help; a missing directory is no usage error.
    const bool usage = err.find("工作区目录不存在") == std::string::npos;
    EXPECT_EQ(result.err, usage ? err + "用 --help 查看用法\n" : err);
  }
  // Nothing is written before the directory test passes.
  EXPECT_EQ(fs.kind("missing", ""), files::EntryKind::Missing);
}

TEST_F(CommandLineTest, HelpAndVersionStopLooking) {
  const std::string version = "backfill-workspace 1.0.0\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-h"}, cli::kHelp},
      {{"--help", "--bogus"}, cli::kHelp},
      {{"--root", "missing", "-h"}, cli::kHelp},
      {{"-h", "\xFF"}, cli::kHelp},
      {{"-V"}, version},
      {{"--root", "missing", "--version", "-h"}, version},
      {{"-q", "-V", "--bogus"}, version}};
  for (const auto& [args, out] : cases) {
    const auto result = run(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_TRUE(std::string_view(cli::kHelp).starts_with(kUsageLine));
  EXPECT_TRUE(std::string_view(cli::kHelp).ends_with("\n详见 man backfill-workspace\n"));
}

TEST_F(CommandLineTest, EmptyWorkspaceFailsTheRun) {
  fs.make_directory("ws");
  const auto result = run({"--root", "ws", "--dry-run"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "▶ 工作区: ws  [DRY-RUN]\n  · 扫描到 0 条记录\n");
  EXPECT_EQ(result.err, "补全失败: 工作区无记录可补全\n");
  EXPECT_EQ(fs.kind("ws", ".system/stats"), files::EntryKind::Directory);
}

TEST_F(CommandLineTest, SystemDirectoryThatIsAFileFailsTheRun) {
  fs.write("ws/.system", "");
  const auto result = run({"--root", "ws"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "▶ 工作区: ws\n");
  EXPECT_TRUE(result.err.starts_with("补全失败: 创建 .system 目录失败: ")) << result.err;
}

TEST(ParseArgumentsTest, LaterOccurrencesReplaceEarlierOnes) {
  const char* argv[] = {"prog",      "--root",        "a",  "--emit-golden", "g1", "--dry-run",
                        "--dry-run", "--emit-golden", "g2", "--root",        "b"};
  const auto parsed = cli::parse_arguments(11, argv);
  const auto* options = std::get_if<cli::BackfillOptions>(&parsed);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options->root, "b");
  EXPECT_EQ(options->emit_golden, std::filesystem::path("g2"));
  EXPECT_TRUE(options->dry_run);
}

}  // namespace
