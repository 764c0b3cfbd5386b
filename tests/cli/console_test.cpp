// What a user sees while a run works: every line as it happens, a progress
// line on a terminal only, nothing on standard output when asked to be quiet.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

using testing_support::run_backfill_binary;
using testing_support::RunOptions;
using testing_support::TempDir;

namespace {

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_support::write_inventory_workspace(dir / "ws", 30); }

  // The command with `action` at its first goal file.
  RunOptions at_first_goal_file(const char* action) const {
    RunOptions options;
    options.program = BACKFILL_FAULT_BINARY;
    options.env = {"BACKFILL_FAULT_MATCH=create:goals", std::string("BACKFILL_FAULT_DO=") + action};
    return options;
  }

  TempDir dir;
};

}  // namespace

TEST_F(ConsoleTest, EachLineLeavesAtOnce) {
  // Killed after the scan: block-buffered output would be lost with it.
  const auto result = run_backfill_binary({"--root", "ws"}, dir.path(), at_first_goal_file("kill"));
  EXPECT_EQ(result.signal, testing_support::kKilledSignal);
  EXPECT_TRUE(result.out.starts_with("▶ 工作区: ws\n  · 扫描到 30 条记录\n  · 推断: "))
      << result.out;
}

TEST_F(ConsoleTest, AProgressLineOnlyOnATerminal) {
#if defined(_WIN32)
  GTEST_SKIP() << "no pseudo-terminal and no `script` under wine";
#else
  // A bare chroot or container may offer no pseudo-terminals at all.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  const int slave = master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0
                        ? ::open(::ptsname(master), O_RDWR | O_NOCTTY)
                        : -1;
  if (slave >= 0) ::close(slave);
  if (master >= 0) ::close(master);
  if (slave < 0) GTEST_SKIP() << "no pseudo-terminal here";
  // `script` gives the command a terminal; the goal stage takes over a second.
  auto options = at_first_goal_file("sleep");
  const std::string command = std::string(BACKFILL_FAULT_BINARY) + " --root ws";
  options.program = "/usr/bin/script";
  const auto on_terminal = run_backfill_binary({"-qec", command, "/dev/null"}, dir.path(), options);
  EXPECT_EQ(on_terminal.status, 0);
  // Drawn, then erased before the stage line.
  EXPECT_NE(on_terminal.out.find("\r生成目标文件\x1b[K\r\x1b[K  ✓ goals/"), std::string::npos)
      << on_terminal.out;

  const auto piped = run_backfill_binary({"--root", "ws"}, dir.path(), at_first_goal_file("sleep"));
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(piped.err, "");
#endif
}

TEST_F(ConsoleTest, QuietPrintsNothingButWarningsAndFailures) {
  dir.write("ws/2026/07/notes-of-a-meeting.md", "## 09:00\n");
  const auto quiet = run_backfill_binary({"-q", "--root", "ws"}, dir.path());
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_NE(quiet.err.find("[warn] 跳过无法读取的记录文件: "), std::string::npos);
  // A dry run is asked for its plan.
  const auto dry = run_backfill_binary({"--root", "ws", "--quiet", "--dry-run"}, dir.path());
  EXPECT_NE(dry.out.find("[DRY-RUN] 将生成:"), std::string::npos) << dry.out;
}
