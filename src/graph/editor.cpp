#include "graph/editor.hpp"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "graph/ids.hpp"

namespace graph {

std::size_t GraphEditor::EndsHash::operator()(const EndsView& e) const noexcept {
  const std::size_t a = std::hash<std::string_view>{}(e.from);
  const std::size_t b = std::hash<std::string_view>{}(e.to);
  return a ^ (b + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
}

GraphEditor::GraphEditor(Graph graph) : graph_(std::move(graph)) {
  node_index_.reserve(graph_.nodes.capacity());
  for (std::size_t i = 0; i < graph_.nodes.size(); ++i) {
    node_index_.try_emplace(node_id(graph_.nodes[i]), i);
  }
}

void GraphEditor::ensure_id_index() {
  if (ids_indexed_) return;
  ids_indexed_ = true;
  edge_index_.reserve(graph_.edges.capacity());
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) edge_index_.try_emplace(graph_.edges[i].id, i);
}

void GraphEditor::ensure_ends_index() {
  if (ends_indexed_) return;
  ends_indexed_ = true;
  ends_index_.reserve(graph_.edges.capacity());
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) index_edge(i);
}

Node* GraphEditor::find_node(std::string_view id) {
  const auto it = node_index_.find(id);
  return it == node_index_.end() ? nullptr : &graph_.nodes[it->second];
}

void GraphEditor::append_node(Node node) {
  node_index_.try_emplace(node_id(node), graph_.nodes.size());
  graph_.nodes.push_back(std::move(node));
}

void GraphEditor::upsert_goal_node(std::string_view name, std::uint8_t progress) {
  std::string id = goal_node_id(name);
  if (Node* existing = find_node(id)) {
    if (auto* goal = std::get_if<Goal>(existing)) goal->progress = progress;
    return;
  }
  const Position at = default_position(id, graph_.nodes.size());
  append_node(Goal{std::move(id), std::string(name), progress, at.x, at.y});
}

std::string GraphEditor::upsert_topic_node(std::string_view name) {
  std::string normalized = normalize_topic_name(name);
  std::string id = "t_" + slug(normalized);
  if (find_node(id) == nullptr) {
    const Position at = default_position(id, graph_.nodes.size());
    append_node(Topic{id, std::move(normalized), at.x, at.y});
  }
  return id;
}

void GraphEditor::upsert_edge(Edge edge) {
  ensure_id_index();
  ensure_ends_index();
  if (const auto it = edge_index_.find(edge.id); it != edge_index_.end()) {
    // The replacement may have other ends than the edge it replaces.
    unindex_edge(it->second);
    graph_.edges[it->second] = std::move(edge);
    index_edge(it->second);
    return;
  }
  if (const auto it = ends_index_.find(EndsView{edge.from, edge.to});
      it != ends_index_.end() && !it->second.empty()) {
    const std::size_t position = it->second.first;
    unindex_edge(position);
    Edge& kept = graph_.edges[position];
    kept.weight = edge.weight;
    kept.source = edge.source;
    kept.confirmed = edge.confirmed;
    index_edge(position);
    return;
  }
  append_edge(std::move(edge));
}

void GraphEditor::append_edge(Edge edge) {
  const std::size_t position = graph_.edges.size();
  if (ids_indexed_) edge_index_.try_emplace(edge.id, position);
  graph_.edges.push_back(std::move(edge));
  if (ends_indexed_) index_edge(position);
}

bool GraphEditor::has_edge_id(std::string_view id) {
  ensure_id_index();
  return edge_index_.contains(id);
}

const GraphEditor::EndsInfo* GraphEditor::ends_info(std::string_view from, std::string_view to) {
  ensure_ends_index();
  const auto it = ends_index_.find(EndsView{from, to});
  return it == ends_index_.end() ? nullptr : &it->second;
}

bool GraphEditor::has_confirmed_edge(std::string_view from, std::string_view to) {
  const EndsInfo* info = ends_info(from, to);
  return info != nullptr && info->confirmed > 0;
}

bool GraphEditor::has_confirmed_user_edge(std::string_view from, std::string_view to) {
  const EndsInfo* info = ends_info(from, to);
  return info != nullptr && info->confirmed_user > 0;
}

bool GraphEditor::set_first_edge_weight(std::string_view from, std::string_view to,
                                        float weight) {
  const EndsInfo* info = ends_info(from, to);
  if (info == nullptr || info->empty()) return false;
  graph_.edges[info->first].weight = weight;
  return true;
}

void GraphEditor::EndsInfo::add(std::size_t position) {
  if (first == kNone) {
    first = position;
    return;
  }
  if (position < first) std::swap(position, first);
  // Appends land at the end; only a replacement by id can land in the middle.
  more.insert(std::upper_bound(more.begin(), more.end(), position), position);
}

void GraphEditor::EndsInfo::remove(std::size_t position) {
  if (position == first) {
    first = more.empty() ? kNone : more.front();
    if (!more.empty()) more.erase(more.begin());
    return;
  }
  const auto at = std::lower_bound(more.begin(), more.end(), position);
  if (at != more.end() && *at == position) more.erase(at);
}

void GraphEditor::prune_dangling_edges() {
  // Ids whose first edge goes: a later edge of the same id, if one stays,
  // becomes the first.
  std::unordered_set<std::string> orphaned;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) {
    Edge& edge = graph_.edges[i];
    const bool dangling = !node_index_.contains(edge.from) || !node_index_.contains(edge.to);
    const auto indexed = ids_indexed_ ? edge_index_.find(edge.id) : edge_index_.end();
    const bool first_of_id = indexed != edge_index_.end() && indexed->second == i;
    if (dangling) {
      if (first_of_id) {
        orphaned.insert(edge.id);
        edge_index_.erase(indexed);
      }
      continue;
    }
    if (first_of_id) indexed->second = kept;
    if (kept != i) graph_.edges[kept] = std::move(edge);
    ++kept;
  }
  graph_.edges.resize(kept);
  if (!orphaned.empty()) {
    for (std::size_t i = 0; i < graph_.edges.size(); ++i) {
      if (orphaned.contains(graph_.edges[i].id)) edge_index_.try_emplace(graph_.edges[i].id, i);
    }
  }
  ends_index_.clear();
  ends_indexed_ = false;
}

void GraphEditor::index_edge(std::size_t position) {
  const Edge& edge = graph_.edges[position];
  auto it = ends_index_.find(EndsView{edge.from, edge.to});
  if (it == ends_index_.end()) {
    it = ends_index_.emplace(OwnedEnds{edge.from, edge.to}, EndsInfo{}).first;
  }
  EndsInfo& info = it->second;
  info.add(position);
  if (edge.confirmed) {
    ++info.confirmed;
    if (edge.source == EdgeSource::User) ++info.confirmed_user;
  }
}

void GraphEditor::unindex_edge(std::size_t position) {
  const Edge& edge = graph_.edges[position];
  const auto it = ends_index_.find(EndsView{edge.from, edge.to});
  if (it == ends_index_.end()) return;
  EndsInfo& info = it->second;
  info.remove(position);
  if (edge.confirmed) {
    --info.confirmed;
    if (edge.source == EdgeSource::User) --info.confirmed_user;
  }
}

}  // namespace graph
