// Below a root whose path is not ASCII, a run makes the same files and
// console lines as below an ASCII one, the root's own text apart.

#include <gtest/gtest.h>

#include <regex>

#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

TEST(NonAsciiRootTest, RunsAsBelowAnAsciiRoot) {
  testing_support::TempDir dir;
  std::vector<testing_support::CommandResult> results;
  for (const std::string root : {"ascii", "工作区 ü"}) {
    const auto ws = dir / files::utf8_path(root + "/ws");
    std::filesystem::create_directories(ws.parent_path());
    testing_support::copy_tree(std::filesystem::path(BACKFILL_SOURCE_DIR) / "examples/workspace",
                               ws);
    // Its warning names the file below the root.
    dir.write(ws / files::utf8_path("2026/07/meeting-纪要.md"), "## 09:00\n");
    results.push_back(testing_support::run_backfill_binary(
        {"--root", root + "/ws", "--emit-golden", root + "/golden"}, dir.path()));
  }
  const std::regex root_text("工作区 ü/");
  for (auto* text : {&results[1].out, &results[1].err}) {
    *text = std::regex_replace(*text, root_text, "ascii/");
  }
  EXPECT_EQ(results[0].status + results[1].status, 0) << results[0].err << results[1].err;
  EXPECT_NE(results[0].err.find("ascii/ws/2026/07/meeting-纪要.md"), std::string::npos);
  EXPECT_EQ(results[1].out, results[0].out);
  EXPECT_EQ(results[1].err, results[0].err);
  EXPECT_EQ(testing_support::masked_files(dir / files::utf8_path("工作区 ü")),
            testing_support::masked_files(dir / "ascii"));
}
