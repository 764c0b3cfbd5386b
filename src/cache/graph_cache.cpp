#include "cache/graph_cache.hpp"

#include <cmath>
#include <limits>
#include <utility>
#include <variant>
#include <vector>

#include "cache/bytes.hpp"
#include "util/content_hash.hpp"

namespace cache {
namespace {

constexpr std::string_view kMagic = "BFWGRAPH";
// Raised whenever what is kept, or how, changes.
constexpr std::uint32_t kFormat = 1;
constexpr std::string_view kProgramVersion = BACKFILL_VERSION;
// The magic, the format, the body's size and its checksum.
constexpr std::size_t kHeaderSize = kMagic.size() + 4 + 8 + 8;
constexpr std::uint32_t kNoAtom = std::numeric_limits<std::uint32_t>::max();

enum class Kind : std::uint8_t { Record, Goal, Topic };

// The graph's strings, each once, numbered in the order first met: a graph of
// 100,000 records names each id several times, and decoding interns each
// string once.
class AtomTable {
 public:
  explicit AtomTable(const graph::Graph& graph) : local_(graph::Atom::count(), kNoAtom) {
    for (const auto& node : graph.nodes) {
      std::visit(
          [&](const auto& n) {
            using T = std::decay_t<decltype(n)>;
            add(n.id);
            if constexpr (std::is_same_v<T, graph::Record>) {
              add(n.date);
              add(n.time);
              add(n.title);
            } else {
              add(n.name);
            }
          },
          node);
    }
    for (const auto& edge : graph.edges) {
      add(edge.from);
      add(edge.to);
      if (edge.id_form() == graph::EdgeIdForm::Text) add(edge.id_text());
    }
  }
  const std::vector<graph::Atom>& in_order() const { return order_; }
  std::uint32_t operator[](graph::Atom atom) const { return local_[atom.index()]; }

 private:
  void add(graph::Atom atom) {
    auto& local = local_[atom.index()];
    if (local != kNoAtom) return;
    local = static_cast<std::uint32_t>(order_.size());
    order_.push_back(atom);
  }
  std::vector<std::uint32_t> local_;
  std::vector<graph::Atom> order_;
};

void put_body(Out& out, const graph::Graph& graph, std::uint64_t file_hash,
              const AtomTable& atoms) {
  out.text(kProgramVersion);
  out.u64(file_hash);
  out.text(graph.version);
  out.text(graph.layout.algorithm);
  out.text(graph.layout.timestamp);
  out.u64(atoms.in_order().size());
  for (const auto atom : atoms.in_order()) out.text(atom.view());
  out.u64(graph.nodes.size());
  for (const auto& node : graph.nodes) {
    if (const auto* r = std::get_if<graph::Record>(&node)) {
      out.u8(static_cast<std::uint8_t>(Kind::Record));
      for (const auto atom : {r->id, r->date, r->time, r->title}) out.u32(atoms[atom]);
      out.f32(r->x);
      out.f32(r->y);
    } else if (const auto* g = std::get_if<graph::Goal>(&node)) {
      out.u8(static_cast<std::uint8_t>(Kind::Goal));
      out.u32(atoms[g->id]);
      out.u32(atoms[g->name]);
      out.u8(g->progress);
      out.f32(g->x);
      out.f32(g->y);
    } else {
      const auto& t = std::get<graph::Topic>(node);
      out.u8(static_cast<std::uint8_t>(Kind::Topic));
      out.u32(atoms[t.id]);
      out.u32(atoms[t.name]);
      out.f32(t.x);
      out.f32(t.y);
    }
  }
  out.u64(graph.edges.size());
  for (const auto& edge : graph.edges) {
    out.u8(static_cast<std::uint8_t>(edge.id_form()));
    out.u8(static_cast<std::uint8_t>(edge.source));
    out.u8(edge.confirmed ? 1 : 0);
    out.u32(atoms[edge.from]);
    out.u32(atoms[edge.to]);
    if (edge.id_form() == graph::EdgeIdForm::Text) out.u32(atoms[edge.id_text()]);
    out.f32(edge.weight);
  }
}

std::optional<graph::Graph> get_body(In& in) {
  graph::Graph graph;
  graph.version = in.text();
  graph.layout.algorithm = in.text();
  graph.layout.timestamp = in.text();
  const std::uint64_t count = in.u64();
  // Each string takes at least its length's four bytes.
  if (!in.ok() || count > in.left() / 4) return std::nullopt;
  std::vector<graph::Atom> atoms;
  atoms.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count && in.ok(); ++i) atoms.emplace_back(in.text());
  const auto atom = [&] {
    const std::uint32_t local = in.u32();
    if (local >= atoms.size()) {
      in.fail();
      return graph::Atom();
    }
    return atoms[local];
  };
  // The file holds finite numbers only, and so does what a parse of it gives.
  const auto number = [&] {
    const float v = in.f32();
    if (!std::isfinite(v)) in.fail();
    return v;
  };
  const std::uint64_t nodes = in.u64();
  // Each node takes at least 17 bytes, each edge at least 15.
  if (!in.ok() || nodes > in.left() / 17) return std::nullopt;
  graph.nodes.reserve(static_cast<std::size_t>(nodes));
  for (std::uint64_t i = 0; i < nodes && in.ok(); ++i) {
    switch (static_cast<Kind>(in.u8())) {
      case Kind::Record: {
        graph::Record r;
        r.id = atom();
        r.date = atom();
        r.time = atom();
        r.title = atom();
        r.x = number();
        r.y = number();
        graph.nodes.emplace_back(r);
        break;
      }
      case Kind::Goal: {
        graph::Goal g;
        g.id = atom();
        g.name = atom();
        g.progress = in.u8();
        g.x = number();
        g.y = number();
        graph.nodes.emplace_back(g);
        break;
      }
      case Kind::Topic: {
        graph::Topic t;
        t.id = atom();
        t.name = atom();
        t.x = number();
        t.y = number();
        graph.nodes.emplace_back(t);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  const std::uint64_t edges = in.u64();
  if (!in.ok() || edges > in.left() / 15) return std::nullopt;
  graph.edges.reserve(static_cast<std::size_t>(edges));
  for (std::uint64_t i = 0; i < edges && in.ok(); ++i) {
    const std::uint8_t form = in.u8();
    const std::uint8_t source = in.u8();
    const std::uint8_t confirmed = in.u8();
    if (form > static_cast<std::uint8_t>(graph::EdgeIdForm::GoalTopicLink) ||
        source > static_cast<std::uint8_t>(graph::EdgeSource::User) || confirmed > 1) {
      return std::nullopt;
    }
    const graph::Atom from = atom();
    const graph::Atom to = atom();
    const auto id_form = static_cast<graph::EdgeIdForm>(form);
    const graph::Atom id = id_form == graph::EdgeIdForm::Text ? atom() : graph::Atom();
    const float weight = number();
    const auto edge_source = static_cast<graph::EdgeSource>(source);
    if (id_form == graph::EdgeIdForm::Text) {
      graph.edges.emplace_back(id.view(), from, to, weight, edge_source, confirmed == 1);
    } else {
      graph.edges.push_back(
          graph::Edge::standard(id_form, from, to, weight, edge_source, confirmed == 1));
    }
  }
  if (!in.ok() || !in.at_end()) return std::nullopt;
  return graph;
}

}  // namespace

void write_graph(const graph::Graph& graph, std::uint64_t file_hash,
                 const std::function<void(std::string_view)>& put) {
  const AtomTable atoms(graph);
  // Made twice: once for the header's size and checksum, once to go out.
  std::uint64_t size = 0;
  hashing::ContentHash sum;
  {
    Out out([&](std::string_view bytes) {
      size += bytes.size();
      sum.add(bytes);
    });
    put_body(out, graph, file_hash, atoms);
  }
  {
    Out header(put);
    header.raw(kMagic);
    header.u32(kFormat);
    header.u64(size);
    header.u64(sum.digest());
  }
  Out out(put);
  put_body(out, graph, file_hash, atoms);
}

std::string encode_graph(const graph::Graph& graph, std::uint64_t file_hash) {
  std::string bytes;
  write_graph(graph, file_hash, [&](std::string_view piece) { bytes.append(piece); });
  return bytes;
}

std::optional<HeldGraph> HeldGraph::of(std::string bytes) {
  if (bytes.size() < kHeaderSize || !std::string_view(bytes).starts_with(kMagic)) {
    return std::nullopt;
  }
  In header(std::string_view(bytes).substr(kMagic.size(), kHeaderSize - kMagic.size()));
  if (header.u32() != kFormat) return std::nullopt;
  const std::uint64_t size = header.u64();
  const std::uint64_t sum = header.u64();
  const auto body = std::string_view(bytes).substr(kHeaderSize);
  if (size != body.size() || hashing::content_hash(body) != sum) return std::nullopt;
  In in(body);
  if (in.text() != kProgramVersion) return std::nullopt;
  const std::uint64_t file_hash = in.u64();
  if (!in.ok()) return std::nullopt;
  const std::size_t at = kHeaderSize + in.at();
  return HeldGraph(std::move(bytes), file_hash, at);
}

std::optional<std::uint64_t> HeldGraph::file_hash_of(std::string_view head) {
  if (head.size() < kHeaderSize || !head.starts_with(kMagic)) return std::nullopt;
  In in(head.substr(kMagic.size()));
  if (in.u32() != kFormat) return std::nullopt;
  in.skip(16);
  if (in.text() != kProgramVersion) return std::nullopt;
  const std::uint64_t hash = in.u64();
  if (!in.ok()) return std::nullopt;
  return hash;
}

std::optional<graph::Graph> HeldGraph::decode() const {
  In in(std::string_view(bytes_).substr(body_));
  return get_body(in);
}

}  // namespace cache
