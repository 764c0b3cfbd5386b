#include "util/memory.hpp"

// Any C library header defines __GLIBC__ on glibc; tested before one is
// included, it is never defined and the trim is silently lost.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <unistd.h>

#include <fstream>
#include <string>
#include <string_view>
#endif

#include "util/fallbacks.hpp"

namespace memory {

void give_back() {
#if defined(__GLIBC__)
  // Other C libraries offer no trim; with the fallbacks forced a run does
  // without it as it does there.
  if (!fallbacks::forced()) malloc_trim(0);
#endif
}

// A sanitizer's allocator takes no glibc tunable: there the restart would
// only cost a start. g++ says so with a macro, clang with a feature.
#if defined(__SANITIZE_ADDRESS__)
#define BACKFILL_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BACKFILL_OWN_ALLOCATOR 1
#endif
#endif

void restart_with_huge_pages([[maybe_unused]] char** argv) {
#if defined(__linux__) && defined(__GLIBC__) && !defined(BACKFILL_OWN_ALLOCATOR)
  if (fallbacks::forced()) return;
  constexpr std::string_view kTunable = "glibc.malloc.hugetlb";
  const char* set = std::getenv("GLIBC_TUNABLES");
  const std::string tunables = set != nullptr ? set : "";
  // Set by the user, or by this very restart: either way it stands.
  if (tunables.find(kTunable) != std::string::npos) return;
  // "always" gives huge pages without asking, "never" not at all.
  std::string mode;
  std::getline(std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled"), mode);
  if (mode.find("[madvise]") == std::string::npos) return;
  const std::string asked =
      (tunables.empty() ? std::string() : tunables + ':') + std::string(kTunable) + "=1";
  if (::setenv("GLIBC_TUNABLES", asked.c_str(), 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // Not started again: the run goes on as it was.
  if (set != nullptr) {
    ::setenv("GLIBC_TUNABLES", tunables.c_str(), 1);
  } else {
    ::unsetenv("GLIBC_TUNABLES");
  }
#endif
}

}  // namespace memory
