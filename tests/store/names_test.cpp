#include "store/names.hpp"

#include <gtest/gtest.h>

TEST(FileNamesTest, NamesClashByCaseFoldingOnlyWhereTheDirectoryFoldsAndIsAskedOnce) {
  int asked = 0;
  store::FileNames names([&] { return ++asked > 0; });
  const std::pair<const char*, std::optional<std::string>> takes[] = {
      {"_index", std::nullopt},   {"Straße", std::nullopt},
      {"STRASSE", std::nullopt},   // one character for one
      {"./Straße", std::nullopt},  // the same file
      {"_Index", "_index"},       {"STRAẞE", "Straße"},
      {"ΣΟΦΟΣ", std::nullopt},    {"σοφος", "ΣΟΦΟΣ"},  // a final sigma folds to σ
      {"σοφoς", std::nullopt},                         // a Latin o
  };
  for (const auto& [name, earlier] : takes) {
    EXPECT_EQ(names.take(std::string("t/") + name + ".md", name), earlier) << name;
  }
  EXPECT_EQ(asked, 1);
  store::FileNames apart([] { return false; });
  EXPECT_EQ(apart.take("t/Work.md", "Work"), std::nullopt);
  EXPECT_EQ(apart.take("t/work.md", "work"), std::nullopt);
}
