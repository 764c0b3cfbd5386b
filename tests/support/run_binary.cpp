#include "support/run_binary.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/temp_dir.hpp"

namespace testing_support {
namespace {

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

CommandResult run_backfill_binary(const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd) {
  TempDir capture;
  const auto out_path = capture / "stdout";
  const auto err_path = capture / "stderr";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  std::vector<char*> argv;
  std::string program = BACKFILL_BINARY;
  argv.push_back(program.data());
  std::vector<std::string> owned = args;
  for (auto& arg : owned) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);

  CommandResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

std::filesystem::path fixtures_dir() {
  const auto dir = std::filesystem::path(BACKFILL_SOURCE_DIR) / ".." / "shared" / "fixtures";
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir, ec)
                                                : std::filesystem::path();
}

}  // namespace testing_support
