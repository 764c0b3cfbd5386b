// The small state files: record_topics.json through graph::parse_record_topics
// and metrics.json through store::parse_metrics, each written back and reread.

#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "graph/record_topics.hpp"
#include "store/metrics.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = fuzz::as_text(data, size);
  if (const auto map = graph::parse_record_topics(text)) {
    const auto reread = graph::parse_record_topics(graph::record_topics_to_json(*map));
    fuzz::check(reread && *reread == *map, "written record topics load the same");
  }
  if (const auto metrics = store::parse_metrics(text)) {
    const auto reread = store::parse_metrics(store::metrics_to_json(*metrics));
    fuzz::check(reread && *reread == *metrics, "written metrics load the same");
  }
  return 0;
}
