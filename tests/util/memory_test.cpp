#include "util/memory.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <memory>
#include <vector>

#include "util/fallbacks.hpp"

#if defined(__GLIBC__) && !defined(BACKFILL_SANITIZED)
namespace {

// Resident pages of this process, from /proc.
long resident_pages() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident;
}

}  // namespace

// Freed blocks below one still in use stay resident until they are handed
// back; a give_back that quietly does nothing costs a large run its memory.
TEST(MemoryTest, GiveBackReturnsFreedPagesBelowALiveBlock) {
  if (fallbacks::forced()) GTEST_SKIP() << "the fallbacks hand nothing back, as other C libraries";
  constexpr std::size_t kBlocks = 64 * 1024;
  std::vector<std::unique_ptr<char[]>> blocks(kBlocks);
  for (auto& block : blocks) {
    block = std::make_unique<char[]>(1024);
    block[0] = 1;
  }
  // Keep the last block, so the freed ones are not at the top of the heap,
  // which free() would trim by itself.
  for (std::size_t i = 0; i + 1 < kBlocks; ++i) blocks[i].reset();
  const long before = resident_pages();
  memory::give_back();
  EXPECT_LT(resident_pages(), before - 8 * 1024) << "64 MB freed, little of it handed back";
}
#elif defined(_WIN32)
TEST(MemoryTest, GiveBackReturnsFreedPagesBelowALiveBlock) {
  GTEST_SKIP() << "no /proc and no malloc_trim on Windows: nothing is handed back";
}
#endif
