#pragma once

// Runs the built command as a separate process and captures what it prints.

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

struct CommandResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the backfill-workspace binary with `args` in the working directory `cwd`.
CommandResult run_backfill_binary(const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd);

// The shared example fixtures beside the project checkout, or an empty path
// when they are not there.
std::filesystem::path fixtures_dir();

}  // namespace testing_support
