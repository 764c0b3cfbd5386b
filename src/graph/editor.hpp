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
  // first edge operation, so node-only edits stay cheap on large graphs. The
  // indexes are sized for the lists' capacity: reserve room in the lists to
  // spare the indexes rehashing too.
  explicit GraphEditor(Graph graph);

  // The graph as edited so far.
  const Graph& graph() const { return graph_; }
  // Hands the graph back; the editor must not be used afterwards.
  Graph take() { return std::move(graph_); }

  // The first node with `id`, or null.
  Node* find_node(std::string_view id);

  // Appends `node` (the id index keeps the first node of each id).
  void append_node(Node node);

  // Same contracts as the free functions of graph/ids.hpp.
  void upsert_goal_node(std::string_view name, std::uint8_t progress);
  std::string upsert_topic_node(std::string_view name);
  void upsert_edge(Edge edge);

  // True when some edge carries `id`.
  bool has_edge_id(std::string_view id);

  // True when some edge goes from `from` to `to` with confirmed set.
  bool has_confirmed_edge(std::string_view from, std::string_view to);

  // True when some edge goes from `from` to `to`, confirmed and made by the user.
  bool has_confirmed_user_edge(std::string_view from, std::string_view to);

  // Sets the weight of the first edge from `from` to `to`; false when none exists.
  bool set_first_edge_weight(std::string_view from, std::string_view to, float weight);

  // Appends `edge` without looking for an existing one.
  void append_edge(Edge edge);

  // Drops the edges whose from or to names no node, as a save would. The id
  // index stays valid; the end-pair index is built again when next needed.
  void prune_dangling_edges();

 private:
  // Both ends of an edge; owning in the index, borrowed for lookups.
  template <typename S>
  struct Ends {
    S from;
    S to;
  };
  using OwnedEnds = Ends<std::string>;
  using EndsView = Ends<std::string_view>;

  struct EndsHash {
    using is_transparent = void;
    std::size_t operator()(const EndsView& e) const noexcept;
    std::size_t operator()(const OwnedEnds& e) const noexcept { return (*this)(view(e)); }
  };
  struct EndsEqual {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const noexcept {
      return std::string_view(a.from) == std::string_view(b.from) &&
             std::string_view(a.to) == std::string_view(b.to);
    }
  };
  struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };

  // The edges between one pair of ends: their positions in ascending order and
  // how many of them are confirmed, and confirmed by the user. Nearly every
  // pair has one edge, so the first position is kept inline.
  struct EndsInfo {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t first = kNone;
    std::vector<std::size_t> more;
    std::uint32_t confirmed = 0;
    std::uint32_t confirmed_user = 0;

    bool empty() const { return first == kNone; }
    void add(std::size_t position);
    void remove(std::size_t position);
  };

  static EndsView view(const OwnedEnds& e) { return {e.from, e.to}; }
  const EndsInfo* ends_info(std::string_view from, std::string_view to);
  // The id index and the end-pair index are built separately, each when first
  // needed: a pass that only asks for ids never pays for the pairs.
  void ensure_id_index();
  void ensure_ends_index();
  void index_edge(std::size_t position);
  void unindex_edge(std::size_t position);

  Graph graph_;
  std::unordered_map<std::string, std::size_t, StringHash, std::equal_to<>> node_index_;
  std::unordered_map<std::string, std::size_t, StringHash, std::equal_to<>> edge_index_;
  std::unordered_map<OwnedEnds, EndsInfo, EndsHash, EndsEqual> ends_index_;
  bool ids_indexed_ = false;
  bool ends_indexed_ = false;
};

}  // namespace graph
