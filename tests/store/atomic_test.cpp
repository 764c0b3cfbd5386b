#include "store/atomic.hpp"

#include <gtest/gtest.h>

#include "store/layout.hpp"
#include "store/workspace.hpp"
#include "support/temp_dir.hpp"

using testing_support::TempDir;

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
