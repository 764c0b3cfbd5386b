// Goals and topics that differ only in case, on a disk that tells them apart
// and on one that takes them for one file.

#include <gtest/gtest.h>

#include "cli/entry.hpp"
#include "store/names.hpp"
#include "support/folding_file_system.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

using testing_support::slurp;
using testing_support::TempDir;

namespace {

struct Run {
  int status;
  std::string out;
  std::string err;
};

Run run_on(const store::FileSystem& fs, const std::filesystem::path& root) {
  std::string name = "backfill-workspace", option = "--root", where = root.string();
  char* argv[] = {name.data(), option.data(), where.data()};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = cli::run(3, argv, fs);
  std::string out = testing::internal::GetCapturedStdout();
  return {status, std::move(out), testing::internal::GetCapturedStderr()};
}

std::string record(std::string_view title, std::string_view time, std::string_view topic,
                   std::string_view goal) {
  return "# " + std::string(title) + "\n\n## " + std::string(time) + "\n相对路径：资料\\" +
         std::string(topic) + "\\x.docx\n分类：" + std::string(goal) + "\n";
}

}  // namespace

TEST(CaseFoldingTest, TheLaterOfTwoNamesThatFoldTogetherIsSkippedOnlyWhereTheDiskFolds) {
  const store::DiskFileSystem disk;
  const testing_support::FoldingFileSystem folding;
  for (const bool folds : {false, true}) {
    SCOPED_TRACE(folds ? "folding" : "case-sensitive");
    const store::FileSystem& fs = folds ? static_cast<const store::FileSystem&>(folding) : disk;
    TempDir dir;
    const auto ws = dir.path() / "ws";
    dir.write("ws/2026/07/2026-07-01-a.md", record("a", "09:30", "Proj", "Work"));
    dir.write("ws/2026/07/2026-07-02-b.md", record("b", "10:30", "proj", "work"));

    const auto first = run_on(fs, ws);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string goals = (ws / ".system/goals").string(),
                      topics = (ws / ".system/topics").string();
    if (folds) {
      EXPECT_EQ(first.err,
                "[warn] 跳过不安全的路径名: 「work」: 与「Work」在此文件系统上是同一个文件名\n"
                "[warn] 跳过不安全的路径名: 「proj」: 与「Proj」在此文件系统上是同一个文件名\n");
      EXPECT_EQ(testing_support::listing(ws / ".system/goals"),
                (std::vector<std::string>{"Work.md", "_index.md"}));
      EXPECT_EQ(testing_support::listing(ws / ".system/topics"),
                (std::vector<std::string>{"Proj.md", "_index.md"}));
      EXPECT_EQ(slurp(ws / ".system/goals/_index.md"), "# 目标\n\nWork 0% —\n\n");
    } else {
      EXPECT_EQ(first.err, "");
      EXPECT_EQ(slurp(ws / ".system/goals/work.md"), "# work\n\n> 0% | —\n- 2026-07-02 b \n");
      EXPECT_NE(slurp(ws / ".system/topics/proj.md").find("- 2026-07-02 b"), std::string::npos);
    }
    // Each kept file holds only its own records.
    EXPECT_EQ(slurp(ws / ".system/goals/Work.md"), "# Work\n\n> 0% | —\n- 2026-07-01 a \n");
    const auto proj = slurp(ws / ".system/topics/Proj.md");
    EXPECT_NE(proj.find("- 2026-07-01 a"), std::string::npos) << proj;
    EXPECT_EQ(proj.find("- 2026-07-02 b"), std::string::npos) << proj;
    // The graph still holds both goals and both topics.
    const auto graph = slurp(ws / ".system/graph.json");
    for (const char* id : {"\"g_work\"", "\"g_Work\"", "\"t_proj\"", "\"t_Proj\""}) {
      EXPECT_NE(graph.find(id), std::string::npos) << id;
    }

    const auto second = run_on(fs, ws);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.err, first.err);
    const auto third = run_on(fs, ws);
    EXPECT_NE(third.out.find("  · 写入 0 个文件，"), std::string::npos) << third.out;
  }
}

TEST(CaseFoldingTest, NamesAreComparedByCaseFoldingAndTheDiskIsAskedOnlyForAClash) {
  int asked = 0;
  store::FileNames names([&] {
    ++asked;
    return true;
  });
  EXPECT_EQ(names.take("t/_index.md", "_index"), std::nullopt);
  EXPECT_EQ(names.take("t/Straße.md", "Straße"), std::nullopt);
  EXPECT_EQ(names.take("t/STRASSE.md", "STRASSE"), std::nullopt);    // one character for one
  EXPECT_EQ(names.take("t/./Straße.md", "./Straße"), std::nullopt);  // the same file
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(names.take("t/_Index.md", "_Index"), "_index");
  EXPECT_EQ(names.take("t/STRAẞE.md", "STRAẞE"), "Straße");
  EXPECT_EQ(names.take("t/ΣΟΦΟΣ.md", "ΣΟΦΟΣ"), std::nullopt);
  EXPECT_EQ(names.take("t/σοφος.md", "σοφος"), "ΣΟΦΟΣ");
  EXPECT_EQ(names.take("t/σοφoς.md", "σοφoς"), std::nullopt);  // a Latin o
  EXPECT_EQ(asked, 1);

  store::FileNames apart([] { return false; });
  EXPECT_EQ(apart.take("t/Work.md", "Work"), std::nullopt);
  EXPECT_EQ(apart.take("t/work.md", "work"), std::nullopt);
}
