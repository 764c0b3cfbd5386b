// The command on a fault-injecting file system that tests steer through the
// environment, to fail a chosen step that changes the disk or to act at it.
// Only tests build this binary; the command itself reads no environment but
// BACKFILL_PORTABLE_FALLBACKS (util/fallbacks.hpp), which this one heeds too.
//
//   BACKFILL_FAULT_LOG=FILE    append "INDEX STEP PATH" for every step
//   BACKFILL_FAULT_AT=N        act at step number N (counted from 0)
//   BACKFILL_FAULT_MATCH=S:P   act at the first step S whose path contains P
//   BACKFILL_FAULT_NTH=N       with MATCH: act at the Nth such step instead
//   BACKFILL_FAULT_DO=A        kill: end the process with SIGKILL (on
//                              Windows, TerminateProcess with the exit code
//                              of support/killed.hpp);
//                              int, term, hup: send SIGINT, SIGTERM, SIGHUP
//                              (on Windows int and hup only: the console's
//                              Ctrl-C and closed-window events);
//                              edit: rename the file BACKFILL_FAULT_EDIT names
//                              ("FROM:TO") as another program would;
//                              rewrite: write FROM's bytes over TO in place
//                              and put TO's times back, as FAT (times to 2 s)
//                              or a FUSE driver that keeps them shows it;
//                              sleep: wait 1.5 s, as a slow disk would;
//                              a number: fail the step with that errno
//   BACKFILL_FAT_FACE=1        run on a face of the disk that acts as a FAT
//                              drive through FUSE does

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "cli/entry.hpp"
#include "files/path_text.hpp"
#include "support/fat_face.hpp"
#include "support/fault_file_system.hpp"
#include "support/killed.hpp"
#if defined(_WIN32)
#include "util/utf16.hpp"
#endif

namespace {

#if defined(_WIN32)
// The environment in UTF-8, as the tests set it; getenv would give it in the
// narrow code page.
std::optional<std::string> env(const char* name) {
  const std::wstring wide_name(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = _wgetenv(wide_name.c_str());
  if (value == nullptr) return std::nullopt;
  return text::utf8_from_utf16(std::u16string_view(reinterpret_cast<const char16_t*>(value)));
}

// A console event as the system delivers it: on a new thread of the process
// that runs kernel32's CtrlRoutine, which calls the handlers. The runner needs
// no console for it, and waits until the command's handler has noted the
// event, as raise() returns after a signal's handler. A handler that waits for
// the run to end (a closed window) is left waiting. Windows would then end the
// process; here the run ends as it does on its own.
void send_console_event(DWORD event) {
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
  const HANDLE thread =
      routine == nullptr
          ? nullptr
          : CreateThread(nullptr, 0, routine,
                         reinterpret_cast<void*>(static_cast<ULONG_PTR>(event)), 0, nullptr);
  if (thread == nullptr) {
    std::fprintf(stderr, "backfill-workspace-faults: no console event (error %lu)\n",
                 GetLastError());
    std::_Exit(99);
  }
  WaitForSingleObject(thread, event == CTRL_C_EVENT ? INFINITE : 500);
  CloseHandle(thread);
}

// Renames as a program saving by atomic rename does, replacing the target.
void rename_over(const std::string& from, const std::string& to) {
  MoveFileExW(files::utf8_path(from).c_str(), files::utf8_path(to).c_str(),
              MOVEFILE_REPLACE_EXISTING);
}

// Writes `from`'s bytes over `to` in place and puts `to`'s times back.
void rewrite_in_place(const std::string& from, const std::string& to) {
  std::ifstream source(files::utf8_path(from), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(source), {}};
  const HANDLE file = CreateFileW(files::utf8_path(to).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FILETIME created{}, accessed{}, written{};
  GetFileTime(file, &created, &accessed, &written);
  DWORD done = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  SetFileTime(file, &created, &accessed, &written);
  CloseHandle(file);
}
#else
std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void rename_over(const std::string& from, const std::string& to) {
  std::rename(from.c_str(), to.c_str());
}

void rewrite_in_place(const std::string& from, const std::string& to) {
  struct stat before{};
  ::stat(to.c_str(), &before);
  std::ofstream(to, std::ios::in | std::ios::binary) << std::ifstream(from).rdbuf();
  const timespec times[] = {before.st_atim, before.st_mtim};
  ::utimensat(AT_FDCWD, to.c_str(), times, 0);
}
#endif

class EnvironmentFaults {
 public:
  EnvironmentFaults()
      : log_(env("BACKFILL_FAULT_LOG")),
        match_(env("BACKFILL_FAULT_MATCH")),
        action_(env("BACKFILL_FAULT_DO").value_or("kill")) {
    if (const auto at = env("BACKFILL_FAULT_AT")) at_ = std::stol(*at);
    if (const auto nth = env("BACKFILL_FAULT_NTH")) nth_ = std::stol(*nth);
  }

  std::optional<int> before(testing_support::FileStep step, const std::filesystem::path& path) {
    const long index = next_++;
    if (log_) {
      // With '/' between the parts on Windows too, as the tests match them.
      std::ofstream(files::utf8_path(*log_), std::ios::app | std::ios::binary)
          << index << ' ' << testing_support::step_name(step) << ' '
          << files::generic_path_text(path) << '\n';
    }
    if (fired_ || !(index == at_ || (matches(step, path) && ++matched_ == nth_)))
      return std::nullopt;
    fired_ = true;
#if defined(_WIN32)
    if (action_ == "kill") TerminateProcess(GetCurrentProcess(), testing_support::kKilledExitCode);
    // What the command takes for SIGINT and SIGHUP there; nothing on Windows
    // stands for SIGTERM.
    if (action_ == "int") send_console_event(CTRL_C_EVENT);
    if (action_ == "hup") send_console_event(CTRL_CLOSE_EVENT);
    if (action_ == "term") {
      std::fputs("backfill-workspace-faults: no term on Windows\n", stderr);
      std::_Exit(99);
    }
#else
    if (action_ == "kill") std::raise(SIGKILL);
    if (action_ == "int") std::raise(SIGINT);
    if (action_ == "term") std::raise(SIGTERM);
    if (action_ == "hup") std::raise(SIGHUP);
#endif
    if (action_ == "sleep") std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    if (action_ == "edit" || action_ == "rewrite") {
      const auto edit = env("BACKFILL_FAULT_EDIT").value_or(":");
      auto colon = edit.find(':');
#if defined(_WIN32)
      // A Windows path has a colon after its drive letter: the one that parts
      // the two paths is the first that is not.
      if (colon == 1 && edit.size() > 2 && (edit[2] == '\\' || edit[2] == '/')) {
        colon = edit.find(':', 2);
      }
#endif
      const auto from = edit.substr(0, colon), to = edit.substr(colon + 1);
      if (action_ == "edit") rename_over(from, to);
      if (action_ == "rewrite") rewrite_in_place(from, to);
    }
    if (!action_.empty() && action_.find_first_not_of("0123456789") == std::string::npos) {
      return std::stoi(action_);
    }
    return std::nullopt;
  }

 private:
  bool matches(testing_support::FileStep step, const std::filesystem::path& path) const {
    if (!match_) return false;
    const auto colon = match_->find(':');
    return match_->substr(0, colon) == testing_support::step_name(step) &&
           files::generic_path_text(path).find(match_->substr(colon + 1)) != std::string::npos;
  }

  std::optional<std::string> log_;
  std::optional<std::string> match_;
  std::string action_;
  long at_ = -1;
  long next_ = 0;
  long nth_ = 1;
  long matched_ = 0;
  bool fired_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  EnvironmentFaults faults;
  const testing_support::FatFace fat;
  const files::FileSystem& inner = env("BACKFILL_FAT_FACE") ? fat : files::disk();
  const testing_support::FaultFileSystem fs(
      inner, [&faults](testing_support::FileStep step, const std::filesystem::path& path) {
        return faults.before(step, path);
      });
  return cli::run(argc, argv, fs);
}
