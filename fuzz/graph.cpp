// graph.json as the graph stage loads it: graph::parse_graph, and for every
// graph it accepts, the written text reads back as the same graph.

#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "graph/model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto graph = graph::parse_graph(fuzz::as_text(data, size));
  if (!graph) return 0;
  const auto text = graph::graph_to_json(*graph);
  const auto reread = graph::parse_graph(text);
  fuzz::check(reread.has_value(), "a written graph loads");
  fuzz::check(*reread == *graph, "a written graph loads as the same graph");
  fuzz::check(graph::graph_to_json(*reread) == text, "writing is stable");
  return 0;
}
