#pragma once

// A graph with id and end-pair indexes beside its lists, so that the rebuild's
// many lookups keep the "first match in list order" meaning without scanning.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graph/model.hpp"

namespace graph {

class GraphEditor {
 public:
  // Takes the graph over and indexes its nodes; the edges are indexed at the
  // first edge operation, so node-only edits stay cheap on large graphs.
  explicit GraphEditor(Graph graph);

  // The graph as edited so far.
  const Graph& graph() const { return graph_; }
  // Hands the graph back; the editor must not be used afterwards.
  Graph take() { return std::move(graph_); }

  // The first node with `id`, or null.
  Node* find_node(Atom id);

  // Appends `node` (the id index keeps the first node of each id).
  void append_node(Node node);

  // Sets the progress of the goal node of `name`, or appends it at its default
  // position; a non-goal node under that id is left alone.
  void upsert_goal_node(std::string_view name, std::uint8_t progress);
  // Appends the topic node of `name` ("t_" + slug of the normalised name)
  // unless its id exists; returns the id.
  Atom upsert_topic_node(std::string_view name);
  // Replaces the edge with the same id, else updates weight, source and
  // confirmed of the first edge with the same ends, else appends `edge`.
  void upsert_edge(Edge edge);

  // True when some edge carries the id of `edge`.
  bool has_edge_id(const Edge& edge);

  // True when some edge goes from `from` to `to` with confirmed set.
  bool has_confirmed_edge(Atom from, Atom to);

  // True when some edge goes from `from` to `to`, confirmed and made by the user.
  bool has_confirmed_user_edge(Atom from, Atom to);

  // Sets the weight of the first edge from `from` to `to`; false when none exists.
  bool set_first_edge_weight(Atom from, Atom to, float weight);

  // Appends `edge` without looking for an existing one.
  void append_edge(Edge edge);

  // Drops the edges whose from or to names no node, as a save would. The id
  // index stays valid; the end-pair index is built again when next needed.
  void prune_dangling_edges();

 private:
  // Positions in the lists, one more than the index so that 0 means none.
  using Slot = std::uint32_t;

  // The edges between one pair of ends: the first position and how many of
  // them are confirmed, and confirmed by the user. Nearly every pair has one
  // edge; the positions after the first are kept aside, in ascending order.
  // The pair's edges also index the ids in standard form: such an id is the
  // pair's, and `first_standard` holds the first edge of each standard form.
  struct EndsInfo {
    Slot first = 0;
    std::uint32_t confirmed = 0;
    std::uint32_t confirmed_user = 0;
    Slot first_standard[2] = {0, 0};
  };

  // EndsInfo by end-pair key, in two flat arrays probed in turn: a node map
  // takes twice the bytes a pair, and a graph of 100,000 records has 300,000
  // pairs at the run's peak. A pair, once in, stays until the table is
  // cleared; an insertion may move every entry.
  class EndsTable {
   public:
    EndsInfo* find(std::uint64_t key);
    // The entry of `key`, made empty when missing.
    EndsInfo& operator[](std::uint64_t key);
    // Room for `count` pairs without moving.
    void reserve(std::size_t count);
    bool allocated() const { return !keys_.empty(); }
    void clear();

   private:
    // No pair has it: atom indexes stay below 2^32 - 1.
    static constexpr std::uint64_t kFree = ~std::uint64_t{0};
    std::size_t home(std::uint64_t key) const;
    void rehash(std::size_t slots);
    std::vector<std::uint64_t> keys_;
    std::vector<EndsInfo> infos_;
    std::size_t size_ = 0;
  };

  static std::uint64_t ends_key(Atom from, Atom to) {
    return (std::uint64_t{from.index()} << 32) | to.index();
  }
  static Slot lookup(const std::vector<Slot>& index, Atom id) {
    return id.index() < index.size() ? index[id.index()] : 0;
  }
  // Records `position` under `id` unless the id has a position already.
  static void claim(std::vector<Slot>& index, Atom id, std::size_t position);

  const EndsInfo* ends_info(Atom from, Atom to);
  // The first edge carrying the id of `edge`, or 0. The same text may stand
  // in either form on different edges (a hand-edited id that names other
  // ends than its own): the first of both counts.
  Slot first_of_id(const Edge& edge);
  Slot first_of_standard(EdgeIdForm form, Atom from, Atom to);
  Slot first_of_text(Atom text);
  // Both indexes are built when first needed, and again after a prune or an
  // edit that moved an id between forms.
  void ensure_indexes();
  void note_text_id(Atom id, std::size_t position);
  void index_edge(std::size_t position);
  void unindex_edge(std::size_t position);

  Graph graph_;
  // Dense over atom indexes: an id's first node or edge.
  std::vector<Slot> node_index_;
  // Ids in text form only.
  std::vector<Slot> edge_index_;
  EndsTable ends_index_;
  std::unordered_map<std::uint64_t, std::vector<Slot>> more_ends_;
  // Whether some text-form id begins like a standard one, when lookups must
  // look in both forms.
  bool standard_like_texts_ = false;
  bool indexed_ = false;
};

}  // namespace graph
