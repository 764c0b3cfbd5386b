#pragma once

// graph.json: the graph read from the file, event by event, and the file's
// text made as it is written, in the pretty form the note application reads.

#include <optional>
#include <string>
#include <string_view>

#include "files/output_file.hpp"
#include "files/reading.hpp"
#include "graph/model.hpp"
#include "store/workspace.hpp"

namespace graph {

// The graph held in the graph.json file `file` reads, in pieces; nothing when
// the text is not exactly such a file (not UTF-8, a byte-order mark, bad JSON,
// a missing or mistyped field, a repeated key).
std::optional<Graph> read_graph(files::Utf8Reader& file);

// Loads graph.json of the workspace; any problem gives the empty graph. The
// workspace remembers what stood there for the next save.
Graph load_graph(store::Workspace& workspace);

// The two stamps of a graph: its version and its layout timestamp.
struct Stamps {
  std::string version;
  std::string timestamp;
};

// Readies `graph` to be saved: prunes it and stamps version and layout
// timestamp with the current UTC time. Returns the stamps it replaced.
Stamps stamp_for_save(Graph& graph);

// graph.json holding `graph`, its text made as it is written; `graph` must
// outlive the staging. A file its load found unreadable is kept as a copy.
// A file that differs only in holding the stamps `before` is left as it is,
// so the stamps say when the graph last changed.
files::OutputFile graph_file(const Graph& graph, std::optional<Stamps> before = std::nullopt);

}  // namespace graph
