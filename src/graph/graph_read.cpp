#include "graph/graph_file.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include <nlohmann/json.hpp>

#include "json/read.hpp"
#include "store/layout.hpp"

namespace graph {

namespace {

using nlohmann::json;

// Smallest magnitude that rounds to infinity as a 32-bit float: FLT_MAX plus
// half of its last unit (a tie rounds to even, which is the infinity).
const double kFloat32Overflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);

// One scalar seen while reading a node, kept until the node's type is known,
// because which keys count (and so which values must be well typed) depends on
// the type, and "type" may come last.
struct Scalar {
  enum class Kind { Absent, String, Unsigned, Negative, Float, Other };
  Kind kind = Kind::Absent;
  int count = 0;
  // The string, while its event lasts: the parser reuses the buffer.
  const std::string* text = nullptr;
  std::uint64_t unsigned_value = 0;
  double number = 0.0;

  static Scalar of(Kind kind, double number = 0.0, std::uint64_t unsigned_value = 0) {
    Scalar s;
    s.kind = kind;
    s.number = number;
    s.unsigned_value = unsigned_value;
    return s;
  }
};

enum class NodeKey { Type, Id, Date, Time, Title, Name, Progress, X, Y, Count };

std::optional<NodeKey> node_key(std::string_view key) {
  if (key == "type") return NodeKey::Type;
  if (key == "id") return NodeKey::Id;
  if (key == "date") return NodeKey::Date;
  if (key == "time") return NodeKey::Time;
  if (key == "title") return NodeKey::Title;
  if (key == "name") return NodeKey::Name;
  if (key == "progress") return NodeKey::Progress;
  if (key == "x") return NodeKey::X;
  if (key == "y") return NodeKey::Y;
  return std::nullopt;
}

enum class EdgeKey { Id, From, To, Weight, Source, Confirmed };

std::optional<EdgeKey> edge_key(std::string_view key) {
  if (key == "id") return EdgeKey::Id;
  if (key == "from") return EdgeKey::From;
  if (key == "to") return EdgeKey::To;
  if (key == "weight") return EdgeKey::Weight;
  if (key == "source") return EdgeKey::Source;
  if (key == "confirmed") return EdgeKey::Confirmed;
  return std::nullopt;
}

// A JSON number as a finite 32-bit float; numbers beyond its range are
// refused rather than held as infinity, which would be written as null and
// make the next load throw the whole graph away.
std::optional<float> to_float32(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= kFloat32Overflow) return std::nullopt;
  return static_cast<float>(value);
}

// Reads graph.json event by event straight into a Graph. Every handler returns
// false on the first violation, which ends the parse.
class GraphReader final : public nlohmann::json_sax<json> {
 public:
  Graph take() {
    // The lists grew by doubling; a large graph would keep up to half of its
    // memory unused for the whole run.
    graph_.nodes.shrink_to_fit();
    graph_.edges.shrink_to_fit();
    return std::move(graph_);
  }

  bool null() override { return scalar(Scalar::of(Scalar::Kind::Other)); }
  bool boolean(bool value) override {
    if (skip_ > 0) return true;
    if (state_ == State::Edge && edge_field_ == Field::Known && edge_key_ == EdgeKey::Confirmed) {
      edge_.confirmed = value;
      return true;
    }
    return scalar(Scalar::of(Scalar::Kind::Other));
  }
  bool number_integer(number_integer_t value) override {
    return scalar(Scalar::of(Scalar::Kind::Negative, static_cast<double>(value)));
  }
  bool number_unsigned(number_unsigned_t value) override {
    return scalar(Scalar::of(Scalar::Kind::Unsigned, static_cast<double>(value), value));
  }
  bool number_float(number_float_t value, const string_t&) override {
    return scalar(Scalar::of(Scalar::Kind::Float, value));
  }
  bool string(string_t& value) override {
    Scalar s = Scalar::of(Scalar::Kind::String);
    s.text = &value;
    return scalar(std::move(s));
  }
  bool binary(binary_t&) override { return false; }

  bool start_object(std::size_t) override {
    if (skip_ > 0) return ++skip_, true;
    switch (state_) {
      case State::Start:
        state_ = State::Top;
        return true;
      case State::Top:
        if (top_field_ == TopField::Layout) return state_ = State::Layout, true;
        return start_skip(top_field_ == TopField::Unknown);
      case State::Nodes:
        for (auto& f : node_.fields) f = Scalar{};
        return state_ = State::Node, true;
      case State::Edges:
        edge_ = {};
        edge_seen_ = 0;
        return state_ = State::Edge, true;
      case State::Node:
        return container_in_node();
      case State::Edge:
        return start_skip(edge_field_ == Field::Unknown);
      case State::Layout:
        return start_skip(layout_field_ == Field::Unknown);
      case State::Done:
        return false;
    }
    return false;
  }

  bool start_array(std::size_t) override {
    if (skip_ > 0) return ++skip_, true;
    switch (state_) {
      case State::Top:
        if (top_field_ == TopField::Nodes) return state_ = State::Nodes, true;
        if (top_field_ == TopField::Edges) return state_ = State::Edges, true;
        return start_skip(top_field_ == TopField::Unknown);
      case State::Node:
        return container_in_node();
      case State::Edge:
        return start_skip(edge_field_ == Field::Unknown);
      case State::Layout:
        return start_skip(layout_field_ == Field::Unknown);
      default:
        return false;
    }
  }

  bool end_object() override {
    if (skip_ > 0) return --skip_, true;
    switch (state_) {
      case State::Top:
        state_ = State::Done;
        return seen_nodes_ && seen_edges_;
      case State::Node:
        state_ = State::Nodes;
        return finish_node();
      case State::Edge:
        state_ = State::Edges;
        return finish_edge();
      case State::Layout:
        state_ = State::Top;
        return true;
      default:
        return false;
    }
  }

  bool end_array() override {
    if (skip_ > 0) return --skip_, true;
    if (state_ == State::Nodes || state_ == State::Edges) return state_ = State::Top, true;
    return false;
  }

  bool key(string_t& name) override {
    if (skip_ > 0) return true;
    switch (state_) {
      case State::Top:
        return top_key(name);
      case State::Node: {
        const auto k = node_key(name);
        node_field_ = k;
        if (!k) return true;
        auto& slot = field(*k);
        ++slot.count;
        // A second "type" is refused at once; other repeats only matter when
        // the key belongs to the node's type, which is known at the end.
        return *k != NodeKey::Type || slot.count == 1;
      }
      case State::Edge: {
        const auto k = edge_key(name);
        if (!k) return edge_field_ = Field::Unknown, true;
        const unsigned bit = 1u << static_cast<unsigned>(*k);
        if (edge_seen_ & bit) return false;
        edge_seen_ |= bit;
        edge_field_ = Field::Known;
        edge_key_ = *k;
        return true;
      }
      case State::Layout: {
        if (name == "algorithm" || name == "timestamp") {
          const bool algorithm = name == "algorithm";
          bool& seen = algorithm ? seen_algorithm_ : seen_timestamp_;
          if (seen) return false;
          seen = true;
          layout_field_ = Field::Known;
          layout_is_algorithm_ = algorithm;
          return true;
        }
        layout_field_ = Field::Unknown;
        return true;
      }
      default:
        return false;
    }
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  enum class State { Start, Top, Nodes, Node, Edges, Edge, Layout, Done };
  enum class TopField { Version, Nodes, Edges, Layout, Unknown };
  enum class Field { Known, Unknown };

  // The fields of the node being read, reused from node to node so that its
  // strings keep their room.
  struct PendingNode {
    Scalar fields[static_cast<std::size_t>(NodeKey::Count)];
    std::string texts[static_cast<std::size_t>(NodeKey::Count)];
  };

  bool start_skip(bool unknown) {
    if (!unknown) return false;
    skip_ = 1;
    return true;
  }

  bool container_in_node() {
    if (!node_field_) return start_skip(true);
    if (*node_field_ == NodeKey::Type) return false;
    field(*node_field_).kind = Scalar::Kind::Other;
    return start_skip(true);
  }

  bool top_key(std::string_view name) {
    bool* seen = nullptr;
    if (name == "version") {
      top_field_ = TopField::Version, seen = &seen_version_;
    } else if (name == "nodes") {
      top_field_ = TopField::Nodes, seen = &seen_nodes_;
    } else if (name == "edges") {
      top_field_ = TopField::Edges, seen = &seen_edges_;
    } else if (name == "layout") {
      top_field_ = TopField::Layout, seen = &seen_layout_;
    } else {
      top_field_ = TopField::Unknown;
      return true;
    }
    if (*seen) return false;
    *seen = true;
    return true;
  }

  bool scalar(Scalar value) {
    if (skip_ > 0) return true;
    switch (state_) {
      case State::Top:
        if (top_field_ == TopField::Unknown) return true;
        if (top_field_ != TopField::Version || value.kind != Scalar::Kind::String) return false;
        graph_.version = *value.text;
        return true;
      case State::Node:
        if (!node_field_) return true;
        {
          Scalar& slot = field(*node_field_);
          value.count = slot.count;
          if (value.text != nullptr) text(*node_field_).assign(*value.text);
          value.text = nullptr;
          slot = value;
        }
        return true;
      case State::Edge:
        return edge_value(std::move(value));
      case State::Layout:
        if (layout_field_ == Field::Unknown) return true;
        if (value.kind != Scalar::Kind::String) return false;
        (layout_is_algorithm_ ? graph_.layout.algorithm : graph_.layout.timestamp) = *value.text;
        return true;
      default:
        // A scalar at the top or as an element of the node or edge list.
        return false;
    }
  }

  bool edge_value(Scalar value) {
    if (edge_field_ == Field::Unknown) return true;
    switch (edge_key_) {
      case EdgeKey::Id:
        if (value.kind != Scalar::Kind::String) return false;
        // Its form is known once both ends are.
        edge_id_.assign(*value.text);
        return true;
      case EdgeKey::From:
      case EdgeKey::To:
        if (value.kind != Scalar::Kind::String) return false;
        (edge_key_ == EdgeKey::From ? edge_.from : edge_.to) = *value.text;
        return true;
      case EdgeKey::Weight: {
        const auto weight = number_as_float(value);
        if (!weight) return false;
        edge_.weight = *weight;
        return true;
      }
      case EdgeKey::Source:
        if (value.kind != Scalar::Kind::String) return false;
        if (*value.text == "user") return edge_.source = EdgeSource::User, true;
        if (*value.text == "llm") return edge_.source = EdgeSource::Llm, true;
        return false;
      case EdgeKey::Confirmed:
        // Booleans are taken in boolean(); anything else here is a mismatch.
        return false;
    }
    return false;
  }

  static std::optional<float> number_as_float(const Scalar& value) {
    if (value.kind != Scalar::Kind::Unsigned && value.kind != Scalar::Kind::Negative &&
        value.kind != Scalar::Kind::Float) {
      return std::nullopt;
    }
    return to_float32(value.number);
  }

  bool finish_edge() {
    constexpr unsigned required = (1u << static_cast<unsigned>(EdgeKey::Id)) |
                                  (1u << static_cast<unsigned>(EdgeKey::From)) |
                                  (1u << static_cast<unsigned>(EdgeKey::To));
    if ((edge_seen_ & required) != required) return false;
    graph_.edges.emplace_back(edge_id_, edge_.from, edge_.to, edge_.weight, edge_.source,
                              edge_.confirmed);
    return true;
  }

  Scalar& field(NodeKey k) { return node_.fields[static_cast<std::size_t>(k)]; }
  std::string& text(NodeKey k) { return node_.texts[static_cast<std::size_t>(k)]; }

  // A required text field of the node: present once and a string.
  bool take_text(NodeKey k, Atom& out) {
    const Scalar& s = field(k);
    if (s.count != 1 || s.kind != Scalar::Kind::String) return false;
    out = text(k);
    return true;
  }

  // An optional coordinate: 0.0 when absent, else present once and a number.
  bool take_coordinate(NodeKey k, float& out) {
    const Scalar& s = field(k);
    if (s.count == 0) return true;
    if (s.count > 1) return false;
    const auto value = number_as_float(s);
    if (!value) return false;
    out = *value;
    return true;
  }

  bool finish_node() {
    const Scalar& type = field(NodeKey::Type);
    if (type.count != 1 || type.kind != Scalar::Kind::String) return false;
    const std::string& type_name = text(NodeKey::Type);
    if (type_name == "record") {
      Record r;
      if (!take_text(NodeKey::Id, r.id) || !take_text(NodeKey::Date, r.date) ||
          !take_text(NodeKey::Time, r.time) || !take_text(NodeKey::Title, r.title) ||
          !take_coordinate(NodeKey::X, r.x) || !take_coordinate(NodeKey::Y, r.y)) {
        return false;
      }
      graph_.nodes.emplace_back(std::move(r));
      return true;
    }
    if (type_name == "goal") {
      Goal g;
      if (!take_text(NodeKey::Id, g.id) || !take_text(NodeKey::Name, g.name) ||
          !take_coordinate(NodeKey::X, g.x) || !take_coordinate(NodeKey::Y, g.y)) {
        return false;
      }
      const Scalar& progress = field(NodeKey::Progress);
      if (progress.count > 1) return false;
      if (progress.count == 1) {
        // "-0" arrives as a signed zero-valued integer and still fits.
        if (progress.kind == Scalar::Kind::Unsigned && progress.unsigned_value <= 255) {
          g.progress = static_cast<std::uint8_t>(progress.unsigned_value);
        } else if (!(progress.kind == Scalar::Kind::Negative && progress.number == 0.0)) {
          return false;
        }
      }
      graph_.nodes.emplace_back(std::move(g));
      return true;
    }
    if (type_name == "topic") {
      Topic t;
      if (!take_text(NodeKey::Id, t.id) || !take_text(NodeKey::Name, t.name) ||
          !take_coordinate(NodeKey::X, t.x) || !take_coordinate(NodeKey::Y, t.y)) {
        return false;
      }
      graph_.nodes.emplace_back(std::move(t));
      return true;
    }
    return false;
  }

  Graph graph_;
  State state_ = State::Start;
  int skip_ = 0;

  TopField top_field_ = TopField::Unknown;
  bool seen_version_ = false;
  bool seen_nodes_ = false;
  bool seen_edges_ = false;
  bool seen_layout_ = false;

  PendingNode node_;
  std::optional<NodeKey> node_field_;

  Edge edge_;
  std::string edge_id_;
  unsigned edge_seen_ = 0;
  Field edge_field_ = Field::Unknown;
  EdgeKey edge_key_ = EdgeKey::Id;

  Field layout_field_ = Field::Unknown;
  bool layout_is_algorithm_ = false;
  bool seen_algorithm_ = false;
  bool seen_timestamp_ = false;
};

}  // namespace

std::optional<Graph> read_graph(files::Utf8Reader& file) {
  GraphReader reader;
  if (!::json::read_events(file, reader)) return std::nullopt;
  return reader.take();
}

Graph load_graph(store::Workspace& workspace, const KnownGraph* known) {
  // Read in pieces: the file of a large workspace runs to tens of megabytes.
  if (known == nullptr) return workspace.load_state_from_file<Graph>(store::kGraphFile, read_graph);
  return workspace.load_state_from_file<Graph>(store::kGraphFile, read_graph, known->file_hash,
                                               known->take);
}

}  // namespace graph
