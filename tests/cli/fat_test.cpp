// The command on a FAT32 drive, as users' USB drives are formatted. The kernel
// here may have no FAT driver, so the image is mounted through FUSE
// (fusefat), which folds case, refuses some names and renames with EPERM and
// EINVAL, numbers each spelling of a file differently, and does not move
// modification times on a write in place.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::run_backfill_binary;
using testing_support::slurp;
using testing_support::TempDir;

namespace {

bool on_path(const char* program) {
  return std::system(("command -v " + std::string(program) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string record(std::string_view title, std::string_view time, std::string_view topic,
                   std::string_view goal) {
  return "# " + std::string(title) + "\n\n## " + std::string(time) + "\n相对路径：资料\\" +
         std::string(topic) + "\\x.docx\n分类：" + std::string(goal) + "\n";
}

class FatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/dev/fuse")) GTEST_SKIP() << "no /dev/fuse here: the FAT32 cases are skipped";
    if (!on_path("fusefat") || !on_path("mkfs.vfat") || !on_path("fusermount")) {
      GTEST_SKIP() << "fusefat, mkfs.vfat or fusermount missing: the FAT32 cases are skipped";
    }
    const auto image = dir_ / "fat.img";
    fs::create_directory(mount_);
    {
      std::ofstream(image).close();
    }
    fs::resize_file(image, 40 << 20);
    if (std::system(("mkfs.vfat -F 32 " + image.string() + " >/dev/null 2>&1").c_str()) != 0 ||
        std::system(
            ("fusefat -o rw+ " + image.string() + " " + mount_.string() + " >/dev/null 2>&1")
                .c_str()) != 0) {
      GTEST_SKIP() << "the FAT32 image could not be mounted through FUSE: the cases are skipped";
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) {
      EXPECT_EQ(std::system(("fusermount -u " + mount_.string()).c_str()), 0) << "still mounted";
    }
  }

  testing_support::CommandResult run() const {
    return run_backfill_binary({"--root", "ws"}, mount_);
  }

  TempDir dir_;
  fs::path mount_ = dir_ / "mnt";
  bool mounted_ = false;
};

}  // namespace

TEST_F(FatTest, CaseClashesRefusedNamesAndKeptCopiesLeaveAWholeCommit) {
  const auto ws = mount_ / "ws";
  fs::create_directories(ws / "2026/07");
  std::ofstream(ws / "2026/07/2026-07-01-a.md") << record("a", "09:30", "Proj", "Work");
  std::ofstream(ws / "2026/07/2026-07-02-b.md") << record("b", "10:30", "proj", "work");
  std::ofstream(ws / "2026/07/2026-07-03-c.md") << record("c", "11:30", "x", "a:b");

  const auto first = run();
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string warnings =
      "[warn] 跳过不安全的路径名: 「work」: 与「Work」在此文件系统上是同一个文件名\n"
      "[warn] 跳过不安全的路径名: 「a:b」\n"
      "[warn] 跳过不安全的路径名: 「proj」: 与「Proj」在此文件系统上是同一个文件名\n";
  EXPECT_EQ(first.err, warnings);
  EXPECT_EQ(slurp(ws / ".system/goals/Work.md"), "# Work\n\n> 0% | —\n- 2026-07-01 a \n");
  const auto proj = slurp(ws / ".system/topics/Proj.md");
  EXPECT_EQ(proj.find("2026-07-02"), std::string::npos) << proj;
  EXPECT_EQ(run().err, warnings);
  const auto third = run();
  EXPECT_EQ(third.status, 0);
  EXPECT_NE(third.out.find("  · 写入 0 个文件，"), std::string::npos) << third.out;

  // No rename that keeps an existing file, and no second link, on this disk.
  fs::remove(ws / ".system/graph.json");
  const std::string unreadable = "\xEF\xBB\xBF{}";
  std::ofstream(ws / ".system/graph.json") << unreadable;
  const auto kept = run();
  EXPECT_EQ(kept.status, 0) << kept.err;
  int copies = 0;
  for (const auto& entry : fs::directory_iterator(ws / ".system")) {
    if (entry.path().filename().string().starts_with("graph.json.bad-")) {
      ++copies;
      EXPECT_EQ(slurp(entry.path()), unreadable);
    }
  }
  EXPECT_EQ(copies, 1);

  // A save in place that moves no time here is caught by the content.
  std::string edited = slurp(ws / ".system/graph.json");
  edited.back() = edited.back() == '}' ? ' ' : '}';
  std::ofstream(dir_ / "edited") << edited;
  const auto overtaken =
      run_backfill_binary({"--root", "ws"}, mount_,
                          {BACKFILL_FAULT_BINARY,
                           {"BACKFILL_FAULT_MATCH=sync-fs:ws", "BACKFILL_FAULT_DO=rewrite",
                            "BACKFILL_FAULT_EDIT=" + (dir_ / "edited").string() + ":" +
                                (ws / ".system/graph.json").string()},
                           false});
  EXPECT_EQ(overtaken.status, 1);
  EXPECT_TRUE(
      overtaken.err.ends_with("补全失败: .system/graph.json 在补全期间被修改，未写入任何文件\n"))
      << overtaken.err;
  EXPECT_EQ(slurp(ws / ".system/graph.json"), edited);
}
