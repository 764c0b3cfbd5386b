#include "store/atomic.hpp"

#include <gtest/gtest.h>

#include "store/layout.hpp"
#include "store/workspace.hpp"
#include "support/temp_dir.hpp"

using testing_support::TempDir;

class WriteAtomicTest : public ::testing::Test {
 protected:
  TempDir dir;
  store::Tree tree{dir.path()};
};

TEST_F(WriteAtomicTest, CreatesMissingParentDirectories) {
  ASSERT_TRUE(store::write_atomic(tree, ".system/goals/工作/日报.md", "# 日报\n"));
  EXPECT_EQ(dir.read(".system/goals/工作/日报.md"), "# 日报\n");
  EXPECT_FALSE(dir.exists(".system/goals/工作/日报.md.tmp"));
}

TEST_F(WriteAtomicTest, ReplacesTheTargetAndIgnoresALeftoverTemporary) {
  dir.write("graph.json", "old");
  dir.write("graph.json.tmp", "half-written garbage from a crash");
  ASSERT_TRUE(store::write_atomic(tree, "graph.json", "new"));
  EXPECT_EQ(dir.read("graph.json"), "new");
  EXPECT_FALSE(dir.exists("graph.json.tmp"));
}

TEST_F(WriteAtomicTest, FailureLeavesTheTargetUnchangedAndReportsIo) {
  dir.write("a/target.json", "old");
  // A directory where the temporary file must go makes the write fail.
  std::filesystem::create_directories(dir / "a/target.json.tmp");
  const auto result = store::write_atomic(tree, "a/target.json", "new");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, store::StoreError::Kind::Io);
  EXPECT_EQ(result.error().text(), "IO 错误: Is a directory");
  EXPECT_EQ(dir.read("a/target.json"), "old");
}

TEST(StoreErrorTest, Texts) {
  EXPECT_EQ(store::StoreError::not_found("a/b").text(), "文件不存在: a/b");
  EXPECT_EQ(store::StoreError::corrupt("g.json", "JSON 解析失败: x").text(),
            "文件损坏（解析失败）: g.json: JSON 解析失败: x");
  EXPECT_EQ(store::StoreError::serialize("bad").text(), "序列化失败: bad");
}

TEST(EnsureSystemDirsTest, CreatesTheFourDirectoriesAndToleratesExistingOnes) {
  TempDir dir;
  ASSERT_TRUE(store::Workspace(dir.path()).ensure_system_dirs());
  ASSERT_TRUE(store::Workspace(dir.path()).ensure_system_dirs());
  for (const char* sub : {".system", ".system/goals", ".system/topics", ".system/stats"}) {
    EXPECT_TRUE(std::filesystem::is_directory(dir / sub)) << sub;
  }
}

TEST(EnsureSystemDirsTest, FailsWhenSystemIsAFile) {
  TempDir dir;
  dir.write(".system", "not a directory");
  const auto result = store::Workspace(dir.path()).ensure_system_dirs();
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("创建 .system 目录失败: ")) << result.error();
}

TEST(UnsafeNameTest, RejectsNamesThatLeaveTheDirectory) {
  EXPECT_TRUE(store::is_unsafe_name("/tmp/x"));
  EXPECT_TRUE(store::is_unsafe_name("../../../../x"));
  EXPECT_TRUE(store::is_unsafe_name("a/../b"));
  EXPECT_TRUE(store::is_unsafe_name("_index"));
  EXPECT_FALSE(store::is_unsafe_name(".."));  // the plain file "...md"
  EXPECT_FALSE(store::is_unsafe_name("..."));
  EXPECT_FALSE(store::is_unsafe_name("工作/日报"));
  EXPECT_FALSE(store::is_unsafe_name("a/.."));  // "a/...md"
  EXPECT_FALSE(store::is_unsafe_name("_index/x"));
}
