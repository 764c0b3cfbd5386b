#pragma once

// The knowledge graph kept in .system/graph.json: record, goal and topic nodes
// and the links between them, as the note application reads and edits them.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>
#include <vector>

#include "graph/atom.hpp"
#include "store/workspace.hpp"
#include "store/writer.hpp"

namespace graph {

// Nodes and edges are small fixed records of atoms: a graph of 100,000
// records holds some 400,000 of them.
struct Record {
  Atom id;
  Atom date;
  Atom time;
  Atom title;
  float x = 0.0f;
  float y = 0.0f;
  bool operator==(const Record&) const = default;
};

struct Goal {
  Atom id;
  Atom name;
  std::uint8_t progress = 0;
  float x = 0.0f;
  float y = 0.0f;
  bool operator==(const Goal&) const = default;
};

struct Topic {
  Atom id;
  Atom name;
  float x = 0.0f;
  float y = 0.0f;
  bool operator==(const Topic&) const = default;
};

using Node = std::variant<Record, Goal, Topic>;

// The id every node variant carries.
Atom node_id(const Node& node);

enum class EdgeSource : std::uint8_t { Llm, User };

// How an edge holds its id: as text, or, when the id is the standard one of
// its ends ("e_" or "g2t_", the from id, "_", the to id), as nothing but that
// fact. A large graph holds hundreds of thousands of standard ids; as text
// they would be most of its strings.
enum class EdgeIdForm : std::uint8_t { Text, RecordLink, GoalTopicLink };

class Edge {
 public:
  Edge() = default;
  // An edge with `id` as given; held in a standard form when it is one.
  Edge(std::string_view id, Atom from, Atom to, float weight = 1.0f,
       EdgeSource source = EdgeSource::Llm, bool confirmed = false);
  // An edge with the standard id of `form` (not Text) for its ends.
  static Edge standard(EdgeIdForm form, Atom from, Atom to, float weight, EdgeSource source,
                       bool confirmed);

  Atom from;
  Atom to;
  float weight = 1.0f;
  EdgeSource source = EdgeSource::Llm;
  bool confirmed = false;

  EdgeIdForm id_form() const { return form_; }
  // The id of a Text-form edge.
  Atom id_text() const { return text_; }
  // The id as text, whatever its form.
  std::string id() const;
  void append_id(std::string& out) const;

  // Equal ids (as text), ends and values.
  friend bool operator==(const Edge& a, const Edge& b);

 private:
  Atom text_;
  EdgeIdForm form_ = EdgeIdForm::Text;
};

// The prefix of a standard id form: "e_" or "g2t_".
std::string_view standard_id_prefix(EdgeIdForm form);

// The form `id` takes on an edge from `from` to `to`.
EdgeIdForm id_form_for(std::string_view id, std::string_view from, std::string_view to);

struct Layout {
  std::string algorithm;
  std::string timestamp;
  bool operator==(const Layout&) const = default;
};

struct Graph {
  std::string version;
  std::vector<Node> nodes;
  std::vector<Edge> edges;
  Layout layout;
  bool operator==(const Graph&) const = default;
};

// The graph held in the text of a graph.json file; nothing when the text is not
// exactly such a file (not UTF-8, a byte-order mark, bad JSON, a missing or
// mistyped field, a repeated key).
std::optional<Graph> parse_graph(std::string_view text);

// The same for the graph.json file `file` reads, in pieces.
std::optional<Graph> read_graph(fsx::Utf8Reader& file);

// Loads graph.json of the workspace; any problem gives the empty graph. The
// workspace remembers what stood there for the next save.
Graph load_graph(store::Workspace& workspace);

// The ids of all nodes of a graph, as a set over atom indexes.
class NodeIds {
 public:
  explicit NodeIds(const Graph& graph);
  bool contains(Atom id) const { return id.index() < present_.size() && present_[id.index()]; }

 private:
  std::vector<bool> present_;
};

// Node counts by kind and the edge count of a graph.
struct GraphCounts {
  std::size_t nodes = 0;
  std::size_t records = 0;
  std::size_t goals = 0;
  std::size_t topics = 0;
  std::size_t edges = 0;
};
GraphCounts count_graph(const Graph& graph);

// Drops edges whose from or to names no node, keeping the order of the rest.
void prune_dangling_edges(Graph& graph);

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
store::OutputFile graph_file(const Graph& graph, std::optional<Stamps> before = std::nullopt);

// The exact pretty JSON text of `graph` as graph_file writes it.
std::string graph_to_json(const Graph& graph);

}  // namespace graph
