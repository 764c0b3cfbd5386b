// Runs the command on every example workspace in every mode and compares the
// console output and the whole resulting directory with the recorded results.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::listing;
using testing_support::masked;
using testing_support::slurp;
using testing_support::TempDir;

namespace {

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

struct FixtureCase {
  std::string fixture;
  std::string mode;
  friend void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.fixture << "/" << c.mode; }
};

std::vector<FixtureCase> all_cases() {
  std::vector<FixtureCase> cases;
  const auto root = testing_support::fixtures_dir();
  if (root.empty()) return cases;
  for (const auto& fixture : fs::directory_iterator(root)) {
    if (!fixture.is_directory()) continue;
    for (const char* mode : {"dry", "real", "rerun", "golden"}) {
      if (fs::is_directory(fixture.path() / mode)) {
        cases.push_back({fixture.path().filename().string(), mode});
      }
    }
  }
  std::ranges::sort(cases, [](const auto& a, const auto& b) {
    return std::tie(a.fixture, a.mode) < std::tie(b.fixture, b.mode);
  });
  return cases;
}

class FixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureTest, MatchesRecordedOutputAndFiles) {
  const auto& [fixture, mode] = GetParam();
  const auto base = testing_support::fixtures_dir() / fixture;
  TempDir work;
  testing_support::copy_tree(base / "input", work.path());

  std::vector<fs::path> runs;
  for (const auto& entry : fs::directory_iterator(base / mode)) {
    if (entry.is_directory() && entry.path().filename().string().starts_with("run")) {
      runs.push_back(entry.path());
    }
  }
  std::ranges::sort(runs);
  ASSERT_FALSE(runs.empty());
  for (const auto& run : runs) {
    SCOPED_TRACE(run.filename().string());
    const auto result =
        testing_support::run_backfill_binary(words(slurp(run / "args")), work.path());
    EXPECT_EQ(result.out, slurp(run / "stdout"));
    EXPECT_EQ(result.err, slurp(run / "stderr"));
    EXPECT_EQ(std::to_string(result.status), words(slurp(run / "status")).at(0));
  }

  const auto expected_paths = lines_of(slurp(base / mode / "expected.paths"));
  const auto actual_paths = listing(work.path());
  std::set<std::string> expected_set(expected_paths.begin(), expected_paths.end());
  for (const auto& path : actual_paths) {
    EXPECT_TRUE(expected_set.contains(path)) << "unexpected path " << path;
  }
  std::set<std::string> actual_set(actual_paths.begin(), actual_paths.end());
  for (const auto& path : expected_paths) {
    EXPECT_TRUE(actual_set.contains(path)) << "missing path " << path;
    if (path.ends_with("/") || !actual_set.contains(path)) continue;
    const auto expected = masked(path, slurp(base / mode / "expected" / path));
    const auto actual = masked(path, slurp(work / path));
    EXPECT_EQ(actual, expected) << "content of " << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, FixtureTest, ::testing::ValuesIn(all_cases()),
                         [](const auto& info) {
                           std::string name = info.param.fixture + "_" + info.param.mode;
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureTest);

}  // namespace
