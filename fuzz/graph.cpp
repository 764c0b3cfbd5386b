// graph.json as the graph stage loads it, in pieces of any size, and for
// every graph it accepts, the written text reads back as the same graph.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "fuzz_input.hpp"
#include "graph/graph_file.hpp"
#include "graph/model.hpp"
#include "support/graph_text.hpp"
#include "topics/topic_files.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text_in = fuzz::as_text(data, size);
  const auto graph = testing_support::parse_graph(text_in);
  // Pieces of a few bytes end inside tokens and characters; the result must
  // not depend on where they end.
  fuzz::check(testing_support::parse_graph(text_in, 1 + size % 7) == graph,
              "reading in small pieces reads the same");
  if (!graph) return 0;
  const auto text = testing_support::graph_text(*graph);
  const auto reread = testing_support::parse_graph(text);
  fuzz::check(reread.has_value(), "a written graph loads");
  fuzz::check(*reread == *graph, "a written graph loads as the same graph");
  fuzz::check(testing_support::graph_text(*reread) == text, "writing is stable");
  // Whatever a name holds, the topics index keeps one line per topic node.
  std::size_t topics = 0;
  for (const auto& node : graph->nodes) topics += std::holds_alternative<graph::Topic>(node);
  const auto index = topics::topics_index_text(*graph);
  fuzz::check(static_cast<std::size_t>(std::ranges::count(index, '\n')) == topics + 2,
              "one index line per topic");
  return 0;
}
