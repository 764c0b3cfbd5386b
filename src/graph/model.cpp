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
  std::erase_if(graph.edges,
                [&](const Edge& e) { return !ids.contains(e.from) || !ids.contains(e.to); });
}

}  // namespace graph
