// The command with a file-layer hook that tests steer through the environment,
// to fail a chosen write step or to kill the process at it. Only tests build
// this binary; the command itself reads no environment.
//
//   BACKFILL_FAULT_LOG=FILE    append "INDEX STEP PATH" for every step
//   BACKFILL_FAULT_AT=N        act at step number N (counted from 0)
//   BACKFILL_FAULT_MATCH=S:P   act at the first step S whose path contains P
//   BACKFILL_FAULT_NTH=N       with MATCH: act at the Nth such step instead
//   BACKFILL_FAULT_DO=kill|E   end the process with SIGKILL, or fail with errno E

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "cli/entry.hpp"
#include "store/tree.hpp"

namespace {

std::string_view step_name(store::FileStep step) {
  switch (step) {
    case store::FileStep::MakeDirectory: return "mkdir";
    case store::FileStep::CreateTemporary: return "create-tmp";
    case store::FileStep::WriteHalf: return "write-half";
    case store::FileStep::SyncFile: return "sync";
    case store::FileStep::Rename: return "rename";
    case store::FileStep::SyncDirectory: return "sync-dir";
    case store::FileStep::WritePlain: return "write-plain";
  }
  return "?";
}

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

class EnvironmentHook final : public store::FileHook {
 public:
  EnvironmentHook()
      : log_(env("BACKFILL_FAULT_LOG")), match_(env("BACKFILL_FAULT_MATCH")),
        action_(env("BACKFILL_FAULT_DO").value_or("kill")) {
    if (const auto at = env("BACKFILL_FAULT_AT")) at_ = std::stol(*at);
    if (const auto nth = env("BACKFILL_FAULT_NTH")) nth_ = std::stol(*nth);
  }

  std::optional<int> before(store::FileStep step, const std::filesystem::path& path) override {
    const long index = next_++;
    if (log_) {
      if (FILE* out = std::fopen(log_->c_str(), "a")) {
        std::fprintf(out, "%ld %s %s\n", index, std::string(step_name(step)).c_str(), path.c_str());
        std::fclose(out);
      }
    }
    if (!fired_ && (index == at_ || (matches(step, path) && ++matched_ == nth_))) {
      fired_ = true;
      if (action_ == "kill") std::raise(SIGKILL);
      return std::stoi(action_);
    }
    return std::nullopt;
  }

 private:
  bool matches(store::FileStep step, const std::filesystem::path& path) const {
    if (!match_) return false;
    const auto colon = match_->find(':');
    return match_->substr(0, colon) == step_name(step) &&
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
  EnvironmentHook hook;
  return cli::run(argc, argv, &hook);
}
