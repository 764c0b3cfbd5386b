#include "util/unicode_tables.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"

namespace {

namespace fs = std::filesystem;

TEST(UnicodeTablesTest, CommittedSourceIsWhatTheScriptMakes) {
#if defined(_WIN32)
  GTEST_SKIP() << "Linux only: a program under wine cannot start the Linux python3";
#endif
  testing_support::RunOptions python;
  python.program = BACKFILL_PYTHON3;
  const fs::path data = "/usr/share/unicode";
  if (python.program.empty()) GTEST_SKIP() << "no python3 found: the tables are not regenerated";
  if (!fs::is_directory(data)) {
    GTEST_SKIP() << "no " << data << " (Debian's unicode-data): the tables are not regenerated";
  }
  const testing_support::TempDir dir;
  const fs::path source = BACKFILL_SOURCE_DIR;
  const auto result = testing_support::run_backfill_binary(
      {(source / "scripts" / "gen-unicode-tables.py").string(), "--data", data.string(),
       (dir / "unicode_tables.cpp").string()},
      dir.path(), python);
  ASSERT_EQ(result.status, 0) << result.err;
  std::ifstream committed(source / "src" / "util" / "unicode_tables.cpp", std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(committed), {}};
  const auto generated = dir.read("unicode_tables.cpp");
  if (generated.find(" Database " + std::string(text::unicode::version) + " ") ==
      std::string::npos) {
    GTEST_SKIP() << data << " holds another Unicode version than the tables";
  }
  EXPECT_EQ(generated, text) << "run scripts/gen-unicode-tables.py and commit its output";
}

}  // namespace
