// Workspaces on the drives people keep them on: a case-sensitive disk, and a
// FAT drive that folds case, refuses some names and no-replace renames and
// moves no modification time on a write in place. The FAT drive is a face of
// the disk (so these cases never depend on a mount) and, where /dev/fuse
// exists, a FAT32 image mounted through FUSE (fusefat).

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>

#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::slurp;

namespace {

enum class Drive { CaseSensitive, FatFace, Fat };

int shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

class DrivesTest : public ::testing::TestWithParam<Drive> {
 protected:
  void SetUp() override {
    if (GetParam() != Drive::Fat) return;
#if defined(_WIN32)
    GTEST_SKIP() << "no FUSE and no fusefat under wine: the FAT32 case is skipped";
#endif
    if (!fs::exists("/dev/fuse")) GTEST_SKIP() << "no /dev/fuse here: the FAT32 case is skipped";
    const auto image = (dir_ / "fat.img").string();
    fs::create_directory(mount_);
    std::ofstream(image).close();
    fs::resize_file(image, 40 << 20);
    if (shell("mkfs.vfat -F 32 " + image) != 0 ||
        shell("fusefat -o rw+ " + image + " " + mount_.string()) != 0) {
      GTEST_SKIP() << "no FAT32 image could be made and mounted (fusefat, mkfs.vfat): skipped";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(shell("fusermount -u " + mount_.string()), 0);
    }
  }

  fs::path ws() const { return (mounted_ ? mount_ : dir_.path()) / "ws"; }
  testing_support::CommandResult run(std::vector<std::string> env = {}) const {
    if (GetParam() == Drive::FatFace) env.push_back("BACKFILL_FAT_FACE=1");
    return testing_support::run_backfill_binary({"--root", "ws"}, ws().parent_path(),
                                                {BACKFILL_FAULT_BINARY, env, false});
  }
  void write_record(std::string_view name, std::string_view topic, std::string_view goal) const {
    std::ofstream(ws() / "2026/07" / name, std::ios::binary)
        << "## 09:30\n相对路径：资料\\" << topic << "\\x\n分类：" << goal << "\n";
  }
  int kept_copies(const std::string& holding) const {
    int copies = 0;
    for (const auto& entry : fs::directory_iterator(ws() / ".system")) {
      if (!entry.path().filename().string().starts_with("graph.json.bad-")) continue;
      ++copies;
      EXPECT_EQ(slurp(entry.path()), holding);
    }
    return copies;
  }

  testing_support::TempDir dir_;
  fs::path mount_ = dir_ / "mnt";
  bool mounted_ = false;
};

}  // namespace

TEST_P(DrivesTest, NamesTheDriveCannotTellApartOrHoldLeaveAWholeCommitThatSettles) {
#if defined(_WIN32)
  // Windows' own disk folds case and refuses FAT's characters too.
  const bool fat = true;
#else
  const bool fat = GetParam() != Drive::CaseSensitive;
#endif
  fs::create_directories(ws() / "2026/07");
  write_record("2026-07-01-a.md", "Proj", "Work");
  write_record("2026-07-02-b.md", "proj", "work");
  write_record("2026-07-03-c.md", "x", "a:b");
  const auto first = run();
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err,
            !fat ? ""
                 : "[warn] 跳过不安全的路径名: 「work」: 与「Work」在此文件系统上是同一个文件名\n"
                   "[warn] 跳过不安全的路径名: 「a:b」\n"
                   "[warn] 跳过不安全的路径名: 「proj」: 与「Proj」在此文件系统上是同一个文件名\n");
  // Each file holds its own records only; a case-sensitive disk writes both.
  EXPECT_EQ(slurp(ws() / ".system/goals/Work.md"), "# Work\n\n> 0% | —\n- 2026-07-01 a \n");
  EXPECT_EQ(slurp(ws() / ".system/topics/Proj.md").find("07-02"), std::string::npos);
  EXPECT_EQ(slurp(ws() / ".system/goals/_index.md").find("a:b") == std::string::npos, fat);
  if (!fat) {
    EXPECT_EQ(slurp(ws() / ".system/goals/work.md"), "# work\n\n> 0% | —\n- 2026-07-02 b \n");
  }
  EXPECT_EQ(run().err, first.err);
  const auto third = run();
  EXPECT_NE(third.out.find("  · 写入 0 个文件，"), std::string::npos) << third.out;

  // The copy of an unreadable graph is kept where no rename may keep it, and
  // goes with a run that fails.
  const std::string unreadable = "\xEF\xBB\xBF{}";
  fs::remove(ws() / ".system/graph.json");
  std::ofstream(ws() / ".system/graph.json", std::ios::binary) << unreadable;
  fs::create_directory(ws() / ".system/metrics.json.tmp");
  EXPECT_EQ(run().status, 1);
  EXPECT_EQ(kept_copies(unreadable), 0);
  fs::remove(ws() / ".system/metrics.json.tmp");
  EXPECT_EQ(run().status, 0);
  EXPECT_EQ(kept_copies(unreadable), 1);

  // A save in place that moves no time is caught by the content.
  write_record("2026-07-04-d.md", "x", "Work");
  std::string edited = slurp(ws() / ".system/graph.json");
  edited.back() = edited.back() == '}' ? ' ' : '}';
  std::ofstream(dir_ / "edited", std::ios::binary) << edited;
  const auto overtaken = run({"BACKFILL_FAULT_MATCH=sync-fs:ws", "BACKFILL_FAULT_DO=rewrite",
                              "BACKFILL_FAULT_EDIT=" + files::path_text(dir_ / "edited") + ":" +
                                  files::path_text(ws() / ".system/graph.json")});
  EXPECT_TRUE(
      overtaken.err.ends_with("补全失败: .system/graph.json 在补全期间被修改，未写入任何文件\n"))
      << overtaken.err;
  EXPECT_EQ(slurp(ws() / ".system/graph.json"), edited);
}

std::string drive_name(const ::testing::TestParamInfo<Drive>& info) {
  return std::array{"CaseSensitive", "FatFace", "Fat"}[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Drives, DrivesTest,
                         ::testing::Values(Drive::CaseSensitive, Drive::FatFace, Drive::Fat),
                         drive_name);
