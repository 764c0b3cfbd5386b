// A month-end snapshot file through stats::parse_snapshot; an accepted snapshot
// written back reads as the same snapshot.

#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "stats/snapshot.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto snapshot = stats::parse_snapshot(fuzz::as_text(data, size));
  if (!snapshot) return 0;
  const auto reread = stats::parse_snapshot(stats::snapshot_json(*snapshot));
  fuzz::check(reread && *reread == *snapshot, "a written snapshot loads the same");
  return 0;
}
