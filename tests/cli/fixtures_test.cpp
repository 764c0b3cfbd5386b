// Runs the command on every example workspace in every mode and compares the
// console output and the whole resulting directory with the recorded results.

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <set>
#include <sstream>

#include "files/path_text.hpp"
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

// The whole content of a recorded file; a missing one fails the test, since an
// empty expectation would otherwise match an empty output.
std::string recorded(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    ADD_FAILURE() << "missing recorded file " << path;
    return "";
  }
  return slurp(path);
}

// Lays out an example's workspace before any run in `work`: input/ws, or the
// repository directory named by input-from.
void copy_input(const fs::path& example, const fs::path& work) {
  if (fs::exists(example / "input-from")) {
    const auto source = fs::path(BACKFILL_SOURCE_DIR) / words(slurp(example / "input-from")).at(0);
    testing_support::copy_tree(source, work / "ws");
  } else {
    testing_support::copy_tree(example / "input", work);
  }
}

// The recorded file holding `path` of a mode's expected tree. A mode with an
// expected-from file records in expected/ only what differs from its base:
// `input`, the workspace before any run (laid out in `input`), or the whole
// expected tree of another mode, which holds only the paths it lists. Bases
// that name each other in a ring end at the fourth hop, as a missing file.
fs::path recorded_file(const fs::path& example, const std::string& mode, const std::string& path,
                       const fs::path& input, int hops = 0) {
  const auto own = example / mode / "expected" / files::utf8_path(path);
  std::error_code ec;
  if (fs::exists(own, ec) || !fs::exists(example / mode / "expected-from", ec) || hops == 4) {
    return own;
  }
  const auto base = words(slurp(example / mode / "expected-from")).at(0);
  if (base == "input") return input / files::utf8_path(path);
  if (std::ranges::count(lines_of(slurp(example / base / "expected.paths")), path) == 0) return own;
  return recorded_file(example, base, path, input, hops + 1);
}

// Runs every recorded run of one mode on a fresh copy of the example and
// compares statuses, console output and the whole resulting directory.
void check_mode(const fs::path& example, const std::string& mode) {
  SCOPED_TRACE(example.filename().string() + "/" + mode);
  const auto recorded_mode = example / mode;
  ASSERT_TRUE(fs::is_directory(recorded_mode)) << "no recorded results in " << recorded_mode;
  TempDir work;
  copy_input(example, work.path());
  TempDir input;
  copy_input(example, input.path());

  std::vector<fs::path> runs;
  for (const auto& entry : fs::directory_iterator(recorded_mode)) {
    if (entry.is_directory() && entry.path().filename().string().starts_with("run")) {
      runs.push_back(entry.path());
    }
  }
  std::ranges::sort(runs);
  ASSERT_FALSE(runs.empty()) << "no recorded runs in " << recorded_mode;
  for (const auto& run : runs) {
    SCOPED_TRACE(run.filename().string());
    const auto args = words(recorded(run / "args"));
    ASSERT_FALSE(args.empty());
    auto result = testing_support::run_backfill_binary(args, work.path());
    const auto out = recorded(run / "stdout");
    // Recordings made before a run counted the files it wrote lack that line.
    constexpr std::string_view kCount = "\n  · 写入 ";
    if (const auto at = result.out.find(kCount);
        out.find(kCount) == std::string::npos && at != std::string::npos) {
      result.out.erase(at + 1, result.out.find('\n', at + 1) - at);
    }
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, recorded(run / "stderr"));
    EXPECT_EQ(std::to_string(result.status) + "\n", recorded(run / "status"));
  }

  const auto expected_paths = lines_of(recorded(recorded_mode / "expected.paths"));
  const auto actual_paths = listing(work.path());
  std::set<std::string> expected_set(expected_paths.begin(), expected_paths.end());
  for (const auto& path : actual_paths) {
    EXPECT_TRUE(expected_set.contains(path)) << "unexpected path " << path;
  }
  std::set<std::string> actual_set(actual_paths.begin(), actual_paths.end());
  for (const auto& path : expected_paths) {
    EXPECT_TRUE(actual_set.contains(path)) << "missing path " << path;
    if (path.ends_with("/") || !actual_set.contains(path)) continue;
    const auto expected = masked(path, recorded(recorded_file(example, mode, path, input.path())));
    const auto actual = masked(path, slurp(work / path));
    EXPECT_EQ(actual, expected) << "content of " << path;
  }
}

std::vector<fs::path> examples_in(const fs::path& dir) {
  std::vector<fs::path> examples;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_directory()) examples.push_back(entry.path());
  }
  std::ranges::sort(examples);
  return examples;
}

constexpr const char* kModes[] = {"dry", "real", "rerun", "golden"};

// The bundled examples record every mode; each example and mode is one test,
// so a bare clone runs the same tests as any other.
struct BundledCase {
  std::string example;
  std::string mode;
  friend void PrintTo(const BundledCase& c, std::ostream* os) { *os << c.example << "/" << c.mode; }
};

std::vector<BundledCase> bundled_cases() {
  std::vector<BundledCase> cases;
  for (const auto& example : examples_in(testing_support::bundled_examples_dir())) {
    for (const char* mode : kModes) cases.push_back({example.filename().string(), mode});
  }
  return cases;
}

class BundledExample : public ::testing::TestWithParam<BundledCase> {};

TEST_P(BundledExample, MatchesRecordedOutputAndFiles) {
  check_mode(testing_support::bundled_examples_dir() / GetParam().example, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Examples, BundledExample, ::testing::ValuesIn(bundled_cases()),
                         [](const auto& info) {
                           std::string name = info.param.example + "_" + info.param.mode;
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });

TEST(BundledExamples, AreThere) {
  EXPECT_GE(bundled_cases().size(), 8u) << "tests/data lost its examples";
}

// Further examples beside the checkout run inside this one test, so that their
// presence adds checks but never changes the number of tests; their absence is
// said on the test's output.
TEST(FurtherExamples, MatchRecordedOutputAndFilesWhenPresent) {
  const auto dir = testing_support::further_examples_dir();
  if (dir.empty()) {
    std::cout << "[ further  ] no folder of further example workspaces beside the checkout "
                 "(../shared/fixtures): 0 run, every one of them left out\n";
    return;
  }
  int ran = 0;
  for (const auto& example : examples_in(dir)) {
    for (const char* mode : kModes) {
      if (!fs::is_directory(example / mode)) continue;
      check_mode(example, mode);
      ++ran;
    }
  }
  std::cout << "[ further  ] " << ran << " example runs from " << dir << "\n";
  EXPECT_GT(ran, 0) << dir << " holds no example workspaces";
}

}  // namespace
