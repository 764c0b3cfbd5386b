#include "support/run_binary.hpp"

#if defined(_WIN32)
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "files/path_text.hpp"
#include "support/temp_dir.hpp"
#if defined(_WIN32)
#include "util/utf16.hpp"
#endif

namespace testing_support {
namespace {

std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

#if defined(_WIN32)
std::wstring wide(std::string_view utf8) {
  const std::u16string text = text::utf16_from_utf8(utf8);
  return std::wstring(text.begin(), text.end());
}

// `arg` as CommandLineToArgvW reads it back: quoted when it holds a blank or a
// quote, a quote escaped, and the backslashes before a quote doubled.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

// The variable's name of an environment entry, in upper case: Windows takes
// names in any case for one.
std::wstring entry_name(std::wstring_view entry) {
  std::wstring name(entry.substr(0, entry.find(L'=', 1)));
  for (auto& c : name) c = static_cast<wchar_t>(std::towupper(c));
  return name;
}

// This process's environment with `extra` in place of the entries it names,
// as CreateProcessW takes it: each entry ends with a NUL, and one more ends it.
std::wstring environment_block(const std::vector<std::string>& extra) {
  std::vector<std::wstring> entries;
  for (const auto& entry : extra) entries.push_back(wide(entry));
  std::vector<std::wstring> names;
  for (const auto& entry : entries) names.push_back(entry_name(entry));
  wchar_t* const inherited = GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
    if (std::ranges::find(names, entry_name(entry)) == names.end()) entries.emplace_back(entry);
  }
  FreeEnvironmentStringsW(inherited);
  std::wstring block;
  for (const auto& entry : entries) {
    block += entry;
    block += L'\0';
  }
  return block + L'\0';
}

// A new file for the child's output, which the child inherits.
HANDLE capture_file(const std::filesystem::path& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

#if defined(_WIN32)
// The tests of permissions are skipped on Windows, where wine keeps no Unix
// permissions: no run switches user there.
bool running_as_root() { return false; }

CommandResult run_backfill_binary(const std::vector<std::string>& args,
                                  const std::filesystem::path& cwd, const RunOptions& options) {
  TempDir capture;
  const auto out_path = capture / "stdout";
  const auto err_path = capture / "stderr";

  std::wstring command_line = quoted(options.program.native());
  for (const auto& arg : args) command_line += L" " + quoted(wide(arg));
  std::wstring environment = environment_block(options.env);

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
  const HANDLE out = capture_file(out_path);
  const HANDLE err = capture_file(err_path);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  // No console: the command prints to the files. Wine's server, loaded by a
  // crash sweep's hundreds of processes, now and then fails a start with an
  // internal error (1359); a moment later the same start goes through.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 5 && started == 0; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(options.program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, environment.data(),
                             cwd.c_str(), &startup, &process);
    if (started == 0 && GetLastError() != ERROR_INTERNAL_ERROR) break;
  }
  for (const HANDLE handle : {in, out, err}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (started == 0) {
    throw std::runtime_error("cannot start " + files::path_text(options.program) + ": error " +
                             std::to_string(GetLastError()));
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  CommandResult result;
  result.status = code == kKilledExitCode ? -1 : static_cast<int>(code);
  result.signal = code == kKilledExitCode ? kKilledSignal : 0;
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}
#else
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
#endif

std::filesystem::path bundled_examples_dir() {
  return std::filesystem::path(BACKFILL_SOURCE_DIR) / "tests" / "data";
}

std::filesystem::path further_examples_dir() {
  const auto dir = std::filesystem::path(BACKFILL_SOURCE_DIR) / ".." / "shared" / "fixtures";
  std::error_code ec;
  return std::filesystem::is_directory(dir, ec) ? std::filesystem::canonical(dir, ec)
                                                : std::filesystem::path();
}

std::string cache_home(const std::filesystem::path& dir) {
#if defined(_WIN32)
  return "LOCALAPPDATA=" + files::path_text(dir);
#else
  return "XDG_CACHE_HOME=" + files::path_text(dir);
#endif
}

}  // namespace testing_support
