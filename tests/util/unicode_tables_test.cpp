#include "util/unicode_tables.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

TEST(UnicodeTablesTest, CommittedSourceIsWhatTheScriptMakes) {
  const fs::path python = BACKFILL_PYTHON3;
  const fs::path data = "/usr/share/unicode";
  if (python.empty()) GTEST_SKIP() << "no python3 found: the tables are not regenerated";
  if (!fs::is_directory(data)) {
    GTEST_SKIP() << "no " << data << " (Debian's unicode-data): the tables are not regenerated";
  }
  std::ifstream prop_list(data / "PropList.txt");
  std::string first_line;
  std::getline(prop_list, first_line);
  const std::string version = "# PropList-" + std::string(text::unicode::version) + ".txt";
  if (first_line != version) {
    GTEST_SKIP() << data << " holds another Unicode version (" << first_line << ") than the tables";
  }

  const testing_support::TempDir dir;
  const fs::path source = BACKFILL_SOURCE_DIR;
  testing_support::RunOptions options;
  options.program = python;
  const auto result = testing_support::run_backfill_binary(
      {(source / "scripts" / "gen-unicode-tables.py").string(), "--data", data.string(),
       (dir / "unicode_tables.cpp").string()},
      dir.path(), options);
  ASSERT_EQ(result.status, 0) << result.err;
  std::ifstream committed(source / "src" / "util" / "unicode_tables.cpp", std::ios::binary);
  std::ostringstream text;
  text << committed.rdbuf();
  EXPECT_EQ(dir.read("unicode_tables.cpp"), text.str())
      << "run scripts/gen-unicode-tables.py and commit its output";
}

}  // namespace
