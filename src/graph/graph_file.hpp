#pragma once

// graph.json: the graph read from the file, event by event, and the file's
// text made as it is written, in the pretty form the note application reads.

#include <cstdint>
#include <functional>
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

// A graph held elsewhere (a cache) for the graph.json whose bytes hash to
// `file_hash`: `take` gives it, or nothing when it cannot.
struct KnownGraph {
  std::uint64_t file_hash = 0;
  std::function<std::optional<Graph>()> take;
};

// Loads graph.json of the workspace; any problem gives the empty graph. The
// workspace remembers what stood there for the next save. With `known`, a
// file of the bytes it stands for is only hashed, not parsed.
Graph load_graph(store::Workspace& workspace, const KnownGraph* known = nullptr);

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
//
// With `hashes`, each text made whole into a sink that took it whole has its
// hash noted: which of the two the file holds after the commit is the
// writer's to say.
struct TextHashes {
  // The text with the graph's own stamps.
  std::optional<std::uint64_t> stamped;
  // The text with the stamps `before`.
  std::optional<std::uint64_t> before;
};
files::OutputFile graph_file(const Graph& graph, std::optional<Stamps> before = std::nullopt,
                             TextHashes* hashes = nullptr);

}  // namespace graph
