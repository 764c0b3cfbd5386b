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
  for (std::size_t i = 0; i < graph_.nodes.size(); ++i)
    claim(node_index_, node_id(graph_.nodes[i]), i);
}

void GraphEditor::ensure_indexes() {
  if (indexed_) return;
  indexed_ = true;
  edge_index_.assign(Atom::count(), 0);
  ends_index_.clear();
  more_ends_.clear();
  standard_like_texts_ = false;
  // The lists are reserved for a whole rebuild, most of it pairs already
  // there: room for half of what may still come, not all of it. Indexed
  // again, the table keeps the room it has.
  const auto& edges = graph_.edges;
  ends_index_.reserve(edges.size() +
                      (ends_index_.allocated() ? 0 : (edges.capacity() - edges.size()) / 2));
  for (std::size_t i = 0; i < graph_.edges.size(); ++i) index_edge(i);
}

void GraphEditor::note_text_id(Atom id, std::size_t position) {
  claim(edge_index_, id, position);
  const std::string_view text = id.view();
  if (text.starts_with(standard_id_prefix(EdgeIdForm::RecordLink)) ||
      text.starts_with(standard_id_prefix(EdgeIdForm::GoalTopicLink))) {
    standard_like_texts_ = true;
  }
}

namespace {

// The earlier of two positions, either of which may be none.
std::uint32_t earliest(std::uint32_t a, std::uint32_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  return std::min(a, b);
}

std::size_t standard_index(EdgeIdForm form) { return form == EdgeIdForm::RecordLink ? 0 : 1; }

}  // namespace

GraphEditor::EndsInfo* GraphEditor::EndsTable::find(std::uint64_t key) {
  if (keys_.empty()) return nullptr;
  for (std::size_t at = home(key);; at = at + 1 == keys_.size() ? 0 : at + 1) {
    if (keys_[at] == key) return &infos_[at];
    if (keys_[at] == kFree) return nullptr;
  }
}

GraphEditor::EndsInfo& GraphEditor::EndsTable::operator[](std::uint64_t key) {
  if (EndsInfo* found = find(key)) return *found;
  // At most four in five slots taken, so that probes stay short.
  if ((size_ + 1) * 5 > keys_.size() * 4) rehash(keys_.size() * 3 / 2 + 64);
  std::size_t at = home(key);
  while (keys_[at] != kFree) at = at + 1 == keys_.size() ? 0 : at + 1;
  keys_[at] = key;
  ++size_;
  // The slot may hold what it held before a clear.
  infos_[at] = EndsInfo{};
  return infos_[at];
}

void GraphEditor::EndsTable::reserve(std::size_t count) {
  const std::size_t slots = count + count / 4 + 64;
  if (slots > keys_.size()) rehash(slots);
}

void GraphEditor::EndsTable::clear() {
  // The slots stay: the table is filled again soon after, to much the same
  // size, and a second table beside the first's freed pages would raise the
  // run's peak.
  std::ranges::fill(keys_, kFree);
  size_ = 0;
}

std::size_t GraphEditor::EndsTable::home(std::uint64_t key) const {
  // The key's bits mixed, then scaled onto the slots.
  const std::uint64_t mixed = key * 0x9E3779B97F4A7C15ULL;
  return static_cast<std::size_t>(((mixed >> 32) * keys_.size()) >> 32);
}

void GraphEditor::EndsTable::rehash(std::size_t slots) {
  std::vector<std::uint64_t> keys(slots, kFree);
  std::vector<EndsInfo> infos(slots);
  keys.swap(keys_);
  infos.swap(infos_);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == kFree) continue;
    std::size_t at = home(keys[i]);
    while (keys_[at] != kFree) at = at + 1 == keys_.size() ? 0 : at + 1;
    keys_[at] = keys[i];
    infos_[at] = infos[i];
  }
}

GraphEditor::Slot GraphEditor::first_of_standard(EdgeIdForm form, Atom from, Atom to) {
  Slot slot = 0;
  if (const EndsInfo* info = ends_index_.find(ends_key(from, to))) {
    slot = info->first_standard[standard_index(form)];
  }
  if (standard_like_texts_) {
    std::string text(standard_id_prefix(form));
    text.append(from.view()).append("_").append(to.view());
    if (const auto atom = Atom::find(text)) slot = earliest(slot, lookup(edge_index_, *atom));
  }
  return slot;
}

GraphEditor::Slot GraphEditor::first_of_text(Atom text) {
  Slot slot = lookup(edge_index_, text);
  const std::string_view id = text.view();
  for (const auto form : {EdgeIdForm::RecordLink, EdgeIdForm::GoalTopicLink}) {
    const std::string_view prefix = standard_id_prefix(form);
    if (!id.starts_with(prefix)) continue;
    // Ids may hold "_" themselves: every cut could part the two ends.
    const std::string_view rest = id.substr(prefix.size());
    for (std::size_t cut = rest.find('_'); cut != std::string_view::npos;
         cut = rest.find('_', cut + 1)) {
      const auto from = Atom::find(rest.substr(0, cut));
      const auto to = Atom::find(rest.substr(cut + 1));
      if (!from || !to) continue;
      if (const EndsInfo* info = ends_index_.find(ends_key(*from, *to))) {
        slot = earliest(slot, info->first_standard[standard_index(form)]);
      }
    }
  }
  return slot;
}

GraphEditor::Slot GraphEditor::first_of_id(const Edge& edge) {
  ensure_indexes();
  if (edge.id_form() == EdgeIdForm::Text) return first_of_text(edge.id_text());
  return first_of_standard(edge.id_form(), edge.from, edge.to);
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
  if (const Slot slot = first_of_id(edge); slot != 0) {
    // The replacement may have other ends than the edge it replaces.
    const std::size_t position = slot - 1;
    const bool same_form = graph_.edges[position].id_form() == edge.id_form();
    unindex_edge(position);
    graph_.edges[position] = edge;
    if (same_form) {
      index_edge(position);
    } else {
      // The id moved between forms: rare enough to index everything again.
      indexed_ = false;
    }
    return;
  }
  if (const EndsInfo* info = ends_index_.find(ends_key(edge.from, edge.to));
      info != nullptr && info->first != 0) {
    const std::size_t position = info->first - 1;
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
  graph_.edges.push_back(edge);
  if (indexed_) index_edge(position);
}

bool GraphEditor::has_edge_id(const Edge& edge) { return first_of_id(edge) != 0; }

const GraphEditor::EndsInfo* GraphEditor::ends_info(Atom from, Atom to) {
  ensure_indexes();
  return ends_index_.find(ends_key(from, to));
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
  const auto dropped = std::erase_if(
      graph_.edges, [&](const Edge& e) { return !has_node(e.from) || !has_node(e.to); });
  // With nothing dropped, every position and so both indexes still hold: a
  // graph of 100,000 records would index its edges again for nothing.
  if (dropped == 0) return;
  // Positions moved: the indexes are made again when next needed.
  indexed_ = false;
  ends_index_.clear();
  more_ends_.clear();
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
  if (edge.id_form() == EdgeIdForm::Text) {
    note_text_id(edge.id_text(), position);
  } else {
    Slot& first = info.first_standard[standard_index(edge.id_form())];
    first = earliest(first, static_cast<Slot>(position + 1));
  }
}

void GraphEditor::unindex_edge(std::size_t position) {
  const Edge& edge = graph_.edges[position];
  const std::uint64_t key = ends_key(edge.from, edge.to);
  EndsInfo* const found = ends_index_.find(key);
  if (found == nullptr) return;
  EndsInfo& info = *found;
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
