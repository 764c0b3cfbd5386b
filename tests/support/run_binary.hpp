#pragma once

// Runs the built command as a separate process and captures what it prints.

#include <filesystem>
#include <string>
#include <vector>

#include "support/killed.hpp"

namespace testing_support {

struct CommandResult {
  // The exit status, or -1 when a signal ended the process.
  int status = -1;
  // The signal that ended the process, or 0; on Windows kKilledSignal
  // (support/killed.hpp) when the fault runner killed itself, else 0.
  int signal = 0;
  std::string out;
  std::string err;
};

struct RunOptions {
  // The command, or the command built with the steerable file-layer hook.
  std::filesystem::path program = BACKFILL_BINARY;
  // Extra environment entries, "NAME=value".
  std::vector<std::string> env;
  // Run as the unprivileged user 65534 when the tests run as root, who
  // ignores file permissions; the caller makes the files it needs writable.
  // Ignored on Windows.
  bool unprivileged = false;
};

// The environment entry that puts the command's caches below `dir`.
std::string cache_home(const std::filesystem::path& dir);

// True when permission tests must switch user to mean anything.
bool running_as_root();

// Runs the backfill-workspace binary with `args` in the working directory `cwd`.
CommandResult run_backfill_binary(const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd, const RunOptions& options = {});

// The example workspaces the repository bundles with their recorded results.
std::filesystem::path bundled_examples_dir();

// A folder of further example workspaces beside the checkout (as in CI), or
// an empty path when there is none.
std::filesystem::path further_examples_dir();

}  // namespace testing_support
