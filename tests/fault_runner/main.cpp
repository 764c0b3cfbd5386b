// The command on a fault-injecting file system that tests steer through the
// environment, to fail a chosen step that changes the disk or to act at it.
// Only tests build this binary; the command itself reads no environment but
// BACKFILL_PORTABLE_FALLBACKS (util/fallbacks.hpp), which this one heeds too.
//
//   BACKFILL_FAULT_LOG=FILE    append "INDEX STEP PATH" for every step
//   BACKFILL_FAULT_AT=N        act at step number N (counted from 0)
//   BACKFILL_FAULT_MATCH=S:P   act at the first step S whose path contains P
//   BACKFILL_FAULT_NTH=N       with MATCH: act at the Nth such step instead
//   BACKFILL_FAULT_DO=A        kill: end the process with SIGKILL;
//                              int, term, hup: send SIGINT, SIGTERM, SIGHUP;
//                              edit: rename the file BACKFILL_FAULT_EDIT names
//                              ("FROM:TO") as another program would;
//                              rewrite: write FROM's bytes over TO in place
//                              and put TO's times back, as FAT (times to 2 s)
//                              or a FUSE driver that keeps them shows it;
//                              sleep: wait 1.5 s, as a slow disk would;
//                              a number: fail the step with that errno
//   BACKFILL_FAT_FACE=1        run on a face of the disk that acts as a FAT
//                              drive through FUSE does

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "cli/entry.hpp"
#include "support/fat_face.hpp"
#include "support/fault_file_system.hpp"

namespace {

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

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
      if (FILE* out = std::fopen(log_->c_str(), "a")) {
        std::fprintf(out, "%ld %s %s\n", index,
                     std::string(testing_support::step_name(step)).c_str(), path.c_str());
        std::fclose(out);
      }
    }
    if (fired_ || !(index == at_ || (matches(step, path) && ++matched_ == nth_)))
      return std::nullopt;
    fired_ = true;
    if (action_ == "kill") std::raise(SIGKILL);
    if (action_ == "int") std::raise(SIGINT);
    if (action_ == "term") std::raise(SIGTERM);
    if (action_ == "hup") std::raise(SIGHUP);
    if (action_ == "sleep") std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    if (action_ == "edit" || action_ == "rewrite") {
      const auto edit = env("BACKFILL_FAULT_EDIT").value_or(":");
      const auto colon = edit.find(':');
      const auto from = edit.substr(0, colon), to = edit.substr(colon + 1);
      if (action_ == "edit") std::rename(from.c_str(), to.c_str());
      if (action_ == "rewrite") {
        struct stat before{};
        ::stat(to.c_str(), &before);
        std::ofstream(to, std::ios::in | std::ios::binary) << std::ifstream(from).rdbuf();
        const timespec times[] = {before.st_atim, before.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, 0);
      }
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
           path.native().find(match_->substr(colon + 1)) != std::string::npos;
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
