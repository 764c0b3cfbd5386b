#pragma once

// graph.json texts for tests and fuzzers, through the code the run uses: the
// piecewise reader and the streamed writer.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "graph/model.hpp"

namespace testing_support {

// The graph `text` holds, read as the run reads graph.json, in pieces of at
// most `piece` bytes; nothing when the run would find it unreadable.
std::optional<graph::Graph> parse_graph(std::string_view text, std::size_t piece = 4096);

// The exact text of graph.json holding `graph` under its own stamps.
std::string graph_text(const graph::Graph& graph);

}  // namespace testing_support
