#include "files/names.hpp"

#include <gtest/gtest.h>

#include "files/path_text.hpp"

TEST(FileNamesTest, NamesClashByCaseFoldingOnlyWhereTheDirectoryFoldsAndIsAskedOnce) {
  int asked = 0;
  files::FileNames names([&] { return ++asked > 0; });
  const std::pair<const char*, std::optional<std::string>> takes[] = {
      {"_index", std::nullopt},   {"Straße", std::nullopt},
      {"STRASSE", std::nullopt},   // one character for one
      {"./Straße", std::nullopt},  // the same file
      {"_Index", "_index"},       {"STRAẞE", "Straße"},
      {"ΣΟΦΟΣ", std::nullopt},    {"σοφος", "ΣΟΦΟΣ"},  // a final sigma folds to σ
      {"σοφoς", std::nullopt},                         // a Latin o
  };
  for (const auto& [name, earlier] : takes) {
    EXPECT_EQ(names.take(files::utf8_path(std::string("t/") + name + ".md"), name), earlier)
        << name;
  }
  EXPECT_EQ(asked, 1);
  files::FileNames apart([] { return false; });
  EXPECT_EQ(apart.take("t/Work.md", "Work"), std::nullopt);
  EXPECT_EQ(apart.take("t/work.md", "work"), std::nullopt);
}

TEST(UnsafeNameTest, RejectsNamesThatLeaveTheDirectory) {
  EXPECT_TRUE(files::is_unsafe_name("/tmp/x"));
  EXPECT_TRUE(files::is_unsafe_name("../../../../x"));
  EXPECT_TRUE(files::is_unsafe_name("a/../b"));
  EXPECT_TRUE(files::is_unsafe_name("_index"));
  EXPECT_FALSE(files::is_unsafe_name(".."));  // the plain file "...md"
  EXPECT_FALSE(files::is_unsafe_name("..."));
  EXPECT_FALSE(files::is_unsafe_name("工作/日报"));
  EXPECT_FALSE(files::is_unsafe_name("a/.."));  // "a/...md"
  EXPECT_FALSE(files::is_unsafe_name("_index/x"));
  // A backslash parts a path on Windows only: there "a\..\..\x" climbs out.
#if defined(_WIN32)
  EXPECT_TRUE(files::is_unsafe_name("a\\..\\..\\x"));
#else
  EXPECT_FALSE(files::is_unsafe_name("a\\..\\..\\x"));
#endif
}
