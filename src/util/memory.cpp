#include "util/memory.hpp"

// Any C library header defines __GLIBC__ on glibc; tested before one is
// included, it is never defined and the trim is silently lost.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
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

}  // namespace memory
