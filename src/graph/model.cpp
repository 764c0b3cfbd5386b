#include "graph/model.hpp"

#include <chrono>
#include <cmath>
#include <cstddef>
#include <ctime>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "store/json_read.hpp"
#include "store/json_text.hpp"
#include "store/layout.hpp"

namespace graph {

Atom node_id(const Node& node) {
  return std::visit([](const auto& n) { return n.id; }, node);
}

std::string_view standard_id_prefix(EdgeIdForm form) {
  return form == EdgeIdForm::RecordLink ? "e_" : form == EdgeIdForm::GoalTopicLink ? "g2t_" : "";
}

EdgeIdForm id_form_for(std::string_view id, std::string_view from, std::string_view to) {
  for (const auto form : {EdgeIdForm::RecordLink, EdgeIdForm::GoalTopicLink}) {
    const std::string_view prefix = standard_id_prefix(form);
    if (id.size() == prefix.size() + from.size() + 1 + to.size() && id.starts_with(prefix) &&
        id.substr(prefix.size(), from.size()) == from && id[prefix.size() + from.size()] == '_' &&
        id.ends_with(to)) {
      return form;
    }
  }
  return EdgeIdForm::Text;
}

Edge::Edge(std::string_view id, Atom from, Atom to, float weight, EdgeSource source, bool confirmed)
    : from(from),
      to(to),
      weight(weight),
      source(source),
      confirmed(confirmed),
      form_(id_form_for(id, from, to)) {
  if (form_ == EdgeIdForm::Text) text_ = Atom(id);
}

Edge Edge::standard(EdgeIdForm form, Atom from, Atom to, float weight, EdgeSource source,
                    bool confirmed) {
  Edge edge;
  edge.from = from;
  edge.to = to;
  edge.weight = weight;
  edge.source = source;
  edge.confirmed = confirmed;
  edge.form_ = form;
  return edge;
}

void Edge::append_id(std::string& out) const {
  if (form_ == EdgeIdForm::Text) {
    out += text_.view();
    return;
  }
  out += standard_id_prefix(form_);
  out += from.view();
  out += '_';
  out += to.view();
}

std::string Edge::id() const {
  std::string out;
  append_id(out);
  return out;
}

bool operator==(const Edge& a, const Edge& b) {
  if (a.from != b.from || a.to != b.to || a.weight != b.weight || a.source != b.source ||
      a.confirmed != b.confirmed) {
    return false;
  }
  // Equal ends: a standard form means the same text on both sides.
  if (a.form_ != EdgeIdForm::Text && b.form_ != EdgeIdForm::Text) return a.form_ == b.form_;
  if (a.form_ == EdgeIdForm::Text && b.form_ == EdgeIdForm::Text) return a.text_ == b.text_;
  return a.id() == b.id();
}

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
    if (state_ == State::Edge && edge_field_ == Field::Known &&
        edge_key_ == EdgeKey::Confirmed) {
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
      case State::Start: state_ = State::Top; return true;
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
      case State::Node: return container_in_node();
      case State::Edge: return start_skip(edge_field_ == Field::Unknown);
      case State::Layout: return start_skip(layout_field_ == Field::Unknown);
      case State::Done: return false;
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
      case State::Node: return container_in_node();
      case State::Edge: return start_skip(edge_field_ == Field::Unknown);
      case State::Layout: return start_skip(layout_field_ == Field::Unknown);
      default: return false;
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
      case State::Layout: state_ = State::Top; return true;
      default: return false;
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
      case State::Top: return top_key(name);
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
      default: return false;
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
      case State::Edge: return edge_value(std::move(value));
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

// Current UTC time in RFC 3339 with +00:00 and the shortest exact fraction of
// 0, 3, 6 or 9 digits.
std::string utc_stamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto seconds = floor<std::chrono::seconds>(now);
  const auto nanos = duration_cast<nanoseconds>(now - seconds).count();
  const std::tm tm = fmt::gmtime(system_clock::to_time_t(seconds));
  std::string out = fmt::format("{:%Y-%m-%dT%H:%M:%S}", tm);
  if (nanos != 0) {
    if (nanos % 1'000'000 == 0) {
      out += fmt::format(".{:03}", nanos / 1'000'000);
    } else if (nanos % 1'000 == 0) {
      out += fmt::format(".{:06}", nanos / 1'000);
    } else {
      out += fmt::format(".{:09}", nanos);
    }
  }
  out += "+00:00";
  return out;
}

void write_node(store::JsonWriter& w, const Node& node) {
  w.begin_object();
  if (const auto* r = std::get_if<Record>(&node)) {
    w.member("type", "record").member("id", r->id).member("date", r->date);
    w.member("time", r->time).member("title", r->title);
    w.member_float("x", r->x).member_float("y", r->y);
  } else if (const auto* g = std::get_if<Goal>(&node)) {
    w.member("type", "goal").member("id", g->id).member("name", g->name);
    w.member_uint("progress", g->progress);
    w.member_float("x", g->x).member_float("y", g->y);
  } else {
    const auto& t = std::get<Topic>(node);
    w.member("type", "topic").member("id", t.id).member("name", t.name);
    w.member_float("x", t.x).member_float("y", t.y);
  }
  w.end_object();
}

}  // namespace

std::optional<Graph> read_graph(fsx::Utf8Reader& file) {
  GraphReader reader;
  if (!store::read_json_events(file, reader)) return std::nullopt;
  return reader.take();
}

std::optional<Graph> parse_graph(std::string_view text) {
  GraphReader reader;
  if (!store::read_json_events(text, reader)) return std::nullopt;
  return reader.take();
}

Graph load_graph(store::Workspace& workspace) {
  // Read in pieces: the file of a large workspace runs to tens of megabytes.
  return workspace.load_state_from_file<Graph>(store::kGraphFile, read_graph);
}

NodeIds::NodeIds(const Graph& graph) : present_(Atom::count()) {
  for (const auto& node : graph.nodes) present_[node_id(node).index()] = true;
}

GraphCounts count_graph(const Graph& graph) {
  GraphCounts counts;
  counts.nodes = graph.nodes.size();
  counts.edges = graph.edges.size();
  for (const auto& node : graph.nodes) {
    if (std::holds_alternative<Record>(node)) ++counts.records;
    if (std::holds_alternative<Goal>(node)) ++counts.goals;
    if (std::holds_alternative<Topic>(node)) ++counts.topics;
  }
  return counts;
}

void prune_dangling_edges(Graph& graph) {
  const NodeIds ids(graph);
  std::erase_if(graph.edges, [&](const Edge& e) {
    return !ids.contains(e.from) || !ids.contains(e.to);
  });
}

namespace {

void write_graph(store::JsonWriter& w, const Graph& graph, const std::string& version,
                 const std::string& timestamp) {
  w.begin_object();
  w.member("version", version);
  w.key("nodes").begin_array();
  for (const auto& node : graph.nodes) {
    // A comparison that found a difference needs no more of the text.
    if (w.sink_full()) return;
    write_node(w, node);
  }
  w.end_array();
  w.key("edges").begin_array();
  std::string id;
  for (const auto& e : graph.edges) {
    if (w.sink_full()) return;
    w.begin_object();
    id.clear();
    e.append_id(id);
    w.member("id", id).member("from", e.from).member("to", e.to);
    w.member_float("weight", e.weight);
    w.member("source", e.source == EdgeSource::User ? "user" : "llm");
    w.member_bool("confirmed", e.confirmed);
    w.end_object();
  }
  w.end_array();
  w.key("layout").begin_object();
  w.member("algorithm", graph.layout.algorithm).member("timestamp", timestamp);
  w.end_object();
  w.end_object();
}

}  // namespace

std::string graph_to_json(const Graph& graph) {
  store::JsonWriter w(store::JsonStyle::Pretty);
  write_graph(w, graph, graph.version, graph.layout.timestamp);
  return w.take();
}

Stamps stamp_for_save(Graph& graph) {
  prune_dangling_edges(graph);
  Stamps before{std::move(graph.version), std::move(graph.layout.timestamp)};
  graph.version = utc_stamp();
  graph.layout.timestamp = graph.version;
  return before;
}

store::OutputFile graph_file(const Graph& graph, std::optional<Stamps> before) {
  // The writer streams plain values and cannot fail, so the serialisation
  // failure text has no path to it here. The text goes to the file as it is
  // made: whole, it would double the memory a large graph takes.
  const auto producer = [&graph](Stamps stamps) -> store::Producer {
    return [&graph, stamps = std::move(stamps)](store::ByteSink& sink) {
      store::JsonWriter w(store::JsonStyle::Pretty, sink);
      write_graph(w, graph, stamps.version, stamps.timestamp);
      w.flush();
    };
  };
  store::OutputFile file{store::FileClass::State,
                         std::string(store::kGraphFile),
                         producer({graph.version, graph.layout.timestamp}),
                         "写入 graph.json 失败: IO 错误: ",
                         {}};
  if (before) file.as_stamped_before = producer(std::move(*before));
  return file;
}

}  // namespace graph
