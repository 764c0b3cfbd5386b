// The command's argument handling, run against the built binary: exact
// standard output, standard error and exit status.

#include <gtest/gtest.h>

#include "cli/options.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"

using testing_support::run_backfill_binary;
using testing_support::TempDir;

namespace {

constexpr const char* kUsageLine =
    "用法: backfill-workspace --root <workspace> [--dry-run] [--emit-golden <dir>]\n";

struct ArgumentCase {
  std::vector<std::string> args;
  std::string err;
};

class CommandLineTest : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(CommandLineTest, ArgumentErrorsExitWithStatusTwo) {
  dir.write("a-file", "x");
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
    const auto result = run_backfill_binary(args, dir.path());
    EXPECT_EQ(result.status, 2) << err;
    EXPECT_EQ(result.out, "");
    // A usage error points at --help; a missing directory is no usage error.
    const bool usage = err.find("工作区目录不存在") == std::string::npos;
    EXPECT_EQ(result.err, usage ? err + "用 --help 查看用法\n" : err);
  }
  // Nothing is written before the directory test passes.
  EXPECT_FALSE(dir.exists("missing"));
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
    const auto result = run_backfill_binary(args, dir.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_TRUE(std::string_view(cli::kHelp).starts_with(kUsageLine));
  EXPECT_TRUE(std::string_view(cli::kHelp).ends_with("\n详见 man backfill-workspace\n"));
}

TEST_F(CommandLineTest, EmptyWorkspaceFailsTheRun) {
  std::filesystem::create_directories(dir / "ws");
  const auto result = run_backfill_binary({"--root", "ws", "--dry-run"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "▶ 工作区: ws  [DRY-RUN]\n  · 扫描到 0 条记录\n");
  EXPECT_EQ(result.err, "补全失败: 工作区无记录可补全\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "ws/.system/stats"));
}

TEST_F(CommandLineTest, SystemDirectoryThatIsAFileFailsTheRun) {
  dir.write("ws/.system", "");
  const auto result = run_backfill_binary({"--root", "ws"}, dir.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "▶ 工作区: ws\n");
  EXPECT_TRUE(result.err.starts_with("补全失败: 创建 .system 目录失败: ")) << result.err;
}

TEST(ParseArgumentsTest, LaterOccurrencesReplaceEarlierOnes) {
  const char* argv[] = {"prog",        "--root",       "a", "--emit-golden", "g1", "--dry-run",
                        "--dry-run",   "--emit-golden", "g2", "--root",       "b"};
  const auto parsed = cli::parse_arguments(11, argv);
  const auto* options = std::get_if<cli::BackfillOptions>(&parsed);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options->root, "b");
  EXPECT_EQ(options->emit_golden, std::filesystem::path("g2"));
  EXPECT_TRUE(options->dry_run);
}

}  // namespace
