// graph.json as the graph stage loads it: graph::parse_graph, and for every
// graph it accepts, the written text reads back as the same graph.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "fuzz_input.hpp"
#include "graph/graph_file.hpp"
#include "graph/model.hpp"
#include "topics/topic_files.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto graph = graph::parse_graph(fuzz::as_text(data, size));
  if (!graph) return 0;
  const auto text = graph::graph_to_json(*graph);
  const auto reread = graph::parse_graph(text);
  fuzz::check(reread.has_value(), "a written graph loads");
  fuzz::check(*reread == *graph, "a written graph loads as the same graph");
  fuzz::check(graph::graph_to_json(*reread) == text, "writing is stable");
  // Whatever a name holds, the topics index keeps one line per topic node.
  std::size_t topics = 0;
  for (const auto& node : graph->nodes) topics += std::holds_alternative<graph::Topic>(node);
  const auto index = topics::topics_index_text(*graph);
  fuzz::check(static_cast<std::size_t>(std::ranges::count(index, '\n')) == topics + 2,
              "one index line per topic");
  return 0;
}
