#include "graph/editor.hpp"

#include <algorithm>
#include <utility>

#include "graph/ids.hpp"

namespace graph {

void GraphEditor::claim(std::vector<Slot>& index, Atom id, std::size_t position) {
  if (id.index() >= index.size()) {
    // Grown to the table's size at once: atoms made later are the rarer case.
    index.resize(std::max<std::size_t>(Atom::count(), id.index() + 1), 0);
  }
  Slot& slot = index[id.index()];
  if (slot == 0) slot = static_cast<Slot>(position + 1);
}

GraphEditor::GraphEditor(Graph graph) : graph_(std::move(graph)) {
  node_index_.resize(Atom::count(), 0);
  for (std::size_t i = 0; i < graph_.nodes.size(); ++i) claim(node_index_, node_id(graph_.nodes[i]), i);
}

void GraphEditor::ensure_id_index() {
  if (ids_indexed_) return;
  ids_indexed_ = true;
  edge_index_.assign(Atom::count(), 0);
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) claim(edge_index_, graph_.edges[i].id, i);
}

void GraphEditor::ensure_ends_index() {
  if (ends_indexed_) return;
  ends_indexed_ = true;
  ends_index_.reserve(graph_.edges.capacity());
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) index_edge(i);
}

Node* GraphEditor::find_node(Atom id) {
  const Slot slot = lookup(node_index_, id);
  return slot == 0 ? nullptr : &graph_.nodes[slot - 1];
}

void GraphEditor::append_node(Node node) {
  claim(node_index_, node_id(node), graph_.nodes.size());
  graph_.nodes.push_back(std::move(node));
}

void GraphEditor::upsert_goal_node(std::string_view name, std::uint8_t progress) {
  const Atom id(goal_node_id(name));
  if (Node* existing = find_node(id)) {
    if (auto* goal = std::get_if<Goal>(existing)) goal->progress = progress;
    return;
  }
  const Position at = default_position(id, graph_.nodes.size());
  append_node(Goal{id, name, progress, at.x, at.y});
}

Atom GraphEditor::upsert_topic_node(std::string_view name) {
  const Atom normalized(normalize_topic_name(name));
  const Atom id("t_" + slug(normalized));
  if (find_node(id) == nullptr) {
    const Position at = default_position(id, graph_.nodes.size());
    append_node(Topic{id, normalized, at.x, at.y});
  }
  return id;
}

void GraphEditor::upsert_edge(Edge edge) {
  ensure_id_index();
  ensure_ends_index();
  if (const Slot slot = lookup(edge_index_, edge.id); slot != 0) {
    // The replacement may have other ends than the edge it replaces.
    unindex_edge(slot - 1);
    graph_.edges[slot - 1] = edge;
    index_edge(slot - 1);
    return;
  }
  if (const auto it = ends_index_.find(ends_key(edge.from, edge.to));
      it != ends_index_.end() && it->second.first != 0) {
    const std::size_t position = it->second.first - 1;
    unindex_edge(position);
    Edge& kept = graph_.edges[position];
    kept.weight = edge.weight;
    kept.source = edge.source;
    kept.confirmed = edge.confirmed;
    index_edge(position);
    return;
  }
  append_edge(edge);
}

void GraphEditor::append_edge(Edge edge) {
  const std::size_t position = graph_.edges.size();
  if (ids_indexed_) claim(edge_index_, edge.id, position);
  graph_.edges.push_back(edge);
  if (ends_indexed_) index_edge(position);
}

bool GraphEditor::has_edge_id(Atom id) {
  ensure_id_index();
  return lookup(edge_index_, id) != 0;
}

const GraphEditor::EndsInfo* GraphEditor::ends_info(Atom from, Atom to) {
  ensure_ends_index();
  const auto it = ends_index_.find(ends_key(from, to));
  return it == ends_index_.end() ? nullptr : &it->second;
}

bool GraphEditor::has_confirmed_edge(Atom from, Atom to) {
  const EndsInfo* info = ends_info(from, to);
  return info != nullptr && info->confirmed > 0;
}

bool GraphEditor::has_confirmed_user_edge(Atom from, Atom to) {
  const EndsInfo* info = ends_info(from, to);
  return info != nullptr && info->confirmed_user > 0;
}

bool GraphEditor::set_first_edge_weight(Atom from, Atom to, float weight) {
  const EndsInfo* info = ends_info(from, to);
  if (info == nullptr || info->first == 0) return false;
  graph_.edges[info->first - 1].weight = weight;
  return true;
}

void GraphEditor::prune_dangling_edges() {
  const auto has_node = [&](Atom id) { return lookup(node_index_, id) != 0; };
  // Ids whose first edge goes: a later edge of the same id, if one stays,
  // becomes the first.
  std::vector<Atom> orphaned;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) {
    Edge& edge = graph_.edges[i];
    const bool dangling = !has_node(edge.from) || !has_node(edge.to);
    Slot* indexed = ids_indexed_ && edge.id.index() < edge_index_.size() ? &edge_index_[edge.id.index()] : nullptr;
    const bool first_of_id = indexed != nullptr && *indexed == i + 1;
    if (dangling) {
      if (first_of_id) {
        orphaned.push_back(edge.id);
        *indexed = 0;
      }
      continue;
    }
    if (first_of_id) *indexed = static_cast<Slot>(kept + 1);
    if (kept != i) graph_.edges[kept] = edge;
    ++kept;
  }
  graph_.edges.resize(kept);
  if (!orphaned.empty()) {
    std::vector<bool> is_orphaned(Atom::count());
    for (const Atom id : orphaned) is_orphaned[id.index()] = true;
    for (std::size_t i = 0; i < graph_.edges.size(); ++i) {
      if (is_orphaned[graph_.edges[i].id.index()]) claim(edge_index_, graph_.edges[i].id, i);
    }
  }
  ends_index_.clear();
  more_ends_.clear();
  ends_indexed_ = false;
}

void GraphEditor::index_edge(std::size_t position) {
  const Edge& edge = graph_.edges[position];
  const std::uint64_t key = ends_key(edge.from, edge.to);
  EndsInfo& info = ends_index_[key];
  auto slot = static_cast<Slot>(position + 1);
  if (info.first == 0) {
    info.first = slot;
  } else {
    if (slot < info.first) std::swap(slot, info.first);
    // Appends land at the end; only a replacement by id can land in the middle.
    auto& more = more_ends_[key];
    more.insert(std::upper_bound(more.begin(), more.end(), slot), slot);
  }
  if (edge.confirmed) {
    ++info.confirmed;
    if (edge.source == EdgeSource::User) ++info.confirmed_user;
  }
}

void GraphEditor::unindex_edge(std::size_t position) {
  const Edge& edge = graph_.edges[position];
  const std::uint64_t key = ends_key(edge.from, edge.to);
  const auto it = ends_index_.find(key);
  if (it == ends_index_.end()) return;
  EndsInfo& info = it->second;
  const auto slot = static_cast<Slot>(position + 1);
  const auto more = more_ends_.find(key);
  if (slot == info.first) {
    if (more == more_ends_.end() || more->second.empty()) {
      info.first = 0;
    } else {
      info.first = more->second.front();
      more->second.erase(more->second.begin());
    }
  } else if (more != more_ends_.end()) {
    const auto at = std::lower_bound(more->second.begin(), more->second.end(), slot);
    if (at != more->second.end() && *at == slot) more->second.erase(at);
  }
  if (edge.confirmed) {
    --info.confirmed;
    if (edge.source == EdgeSource::User) --info.confirmed_user;
  }
}

}  // namespace graph
