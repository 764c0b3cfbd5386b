#include "util/memory.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace memory {

void give_back() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace memory
