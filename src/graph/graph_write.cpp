#include "graph/graph_file.hpp"

#include <chrono>
#include <ctime>
#include <string>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "json/write.hpp"
#include "store/layout.hpp"
#include "util/content_hash.hpp"

namespace graph {
namespace {

// Current UTC time in RFC 3339 with +00:00 and the shortest exact fraction of
// 0, 3, 6 or 9 digits.
std::string save_stamp() {
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

void write_node(json::JsonWriter& w, const Node& node) {
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

void write_graph(json::JsonWriter& w, const Graph& graph, const std::string& version,
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

Stamps stamp_for_save(Graph& graph) {
  prune_dangling_edges(graph);
  Stamps before{std::move(graph.version), std::move(graph.layout.timestamp)};
  graph.version = save_stamp();
  graph.layout.timestamp = graph.version;
  return before;
}

files::OutputFile graph_file(const Graph& graph, std::optional<Stamps> before, TextHashes* hashes) {
  // The writer streams plain values and cannot fail, so the serialisation
  // failure text has no path to it here. The text goes to the file as it is
  // made: whole, it would double the memory a large graph takes.
  const auto producer = [&graph](Stamps stamps, std::optional<std::uint64_t>* hash) {
    return files::Producer([&graph, stamps = std::move(stamps), hash](files::ByteSink& to) {
      struct Hashing final : files::ByteSink {
        explicit Hashing(files::ByteSink& out) : out_(out) {}
        void put(std::string_view bytes) override {
          sum_.add(bytes);
          out_.put(bytes);
        }
        bool full() const override { return out_.full(); }
        files::ByteSink& out_;
        hashing::ContentHash sum_;
      } sink(to);
      json::JsonWriter w(json::JsonStyle::Pretty, hash != nullptr ? sink : to);
      write_graph(w, graph, stamps.version, stamps.timestamp);
      w.flush();
      if (hash != nullptr && !to.full()) *hash = sink.sum_.digest();
    });
  };
  files::OutputFile file{files::FileClass::State,
                         std::string(store::kGraphFile),
                         producer({graph.version, graph.layout.timestamp},
                                  hashes != nullptr ? &hashes->stamped : nullptr),
                         "写入 graph.json 失败: IO 错误: ",
                         {}};
  if (before) {
    file.as_stamped_before =
        producer(std::move(*before), hashes != nullptr ? &hashes->before : nullptr);
  }
  return file;
}

}  // namespace graph
