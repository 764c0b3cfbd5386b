#include "store/workspace.hpp"

#include <gtest/gtest.h>

#include "store/layout.hpp"
#include "support/memory_file_system.hpp"

TEST(EnsureSystemDirsTest, CreatesTheFourDirectoriesAndToleratesExistingOnes) {
  testing_support::MemoryFileSystem fs;
  fs.make_directory("/ws");
  ASSERT_TRUE(store::Workspace("/ws", fs).ensure_system_dirs());
  ASSERT_TRUE(store::Workspace("/ws", fs).ensure_system_dirs());
  EXPECT_EQ(fs.listing("/ws"), (std::vector<std::string>{".system/", ".system/goals/",
                                                         ".system/stats/", ".system/topics/"}));
}

TEST(EnsureSystemDirsTest, FailsWhenSystemIsAFile) {
  testing_support::MemoryFileSystem fs;
  fs.write("/ws/.system", "not a directory");
  const auto result = store::Workspace("/ws", fs).ensure_system_dirs();
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().starts_with("创建 .system 目录失败: ")) << result.error();
}
