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

bool running_as_root() { return geteuid() == 0; }

CommandResult run_backfill_binary(const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd, const RunOptions& options) {
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

  std::vector<std::string> owned;
  if (options.unprivileged && running_as_root()) {
    owned = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  owned.push_back(options.program.string());
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : owned) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_owned = options.env;
  for (char** entry = environ; *entry != nullptr; ++entry) env_owned.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : env_owned) envp.push_back(entry.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + owned.front());
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);

  CommandResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

std::filesystem::path bundled_examples_dir() {
  return std::filesystem::path(BACKFILL_SOURCE_DIR) / "tests" / "data";
}

std::filesystem::path further_examples_dir() {
  const auto dir = std::filesystem::path(BACKFILL_SOURCE_DIR) / ".." / "shared" / "fixtures";
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir, ec)
                                                : std::filesystem::path();
}

}  // namespace testing_support
