#pragma once

// The knowledge graph kept in .system/graph.json: record, goal and topic nodes
// and the links between them, as the note application reads and edits them.
// How the file is read and written is graph/graph_file.hpp's.

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

}  // namespace graph
