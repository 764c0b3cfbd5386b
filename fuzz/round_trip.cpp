// What the JSON writer writes, the loaders read back equal: a graph, a
// record-topics map or metrics built from the input bytes, or one 32-bit float.
// The first byte chooses which.

#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_input.hpp"
#include "graph/graph_file.hpp"
#include "graph/model.hpp"
#include "graph/record_topics.hpp"
#include "json/write.hpp"
#include "store/metrics.hpp"
#include "support/graph_text.hpp"

namespace {

// Only finite floats are ever stored: the loader refuses anything else.
float finite_float(fuzz::Bytes& in) {
  const auto value = in.raw<float>();
  return std::isfinite(value) ? value : 0.0f;
}

graph::Node node_from(fuzz::Bytes& in) {
  switch (in.u8() % 3) {
    case 0: {
      graph::Record r{in.text(), in.text(), in.text(), in.text()};
      r.x = finite_float(in);
      r.y = finite_float(in);
      return r;
    }
    case 1: {
      graph::Goal g{in.text(), in.text(), in.u8()};
      g.x = finite_float(in);
      g.y = finite_float(in);
      return g;
    }
    default: {
      graph::Topic t{in.text(), in.text()};
      t.x = finite_float(in);
      t.y = finite_float(in);
      return t;
    }
  }
}

void graph_round_trip(fuzz::Bytes& in) {
  graph::Graph graph;
  graph.version = in.text();
  graph.layout = {in.text(), in.text()};
  for (auto n = in.u8() % 8; n > 0; --n) graph.nodes.push_back(node_from(in));
  for (auto n = in.u8() % 8; n > 0; --n) {
    graph::Edge e{in.text(), in.text(), in.text()};
    e.weight = finite_float(in);
    const auto flags = in.u8();
    e.source = flags & 1 ? graph::EdgeSource::User : graph::EdgeSource::Llm;
    e.confirmed = (flags & 2) != 0;
    graph.edges.push_back(std::move(e));
  }
  const auto reread = testing_support::parse_graph(testing_support::graph_text(graph));
  fuzz::check(reread && *reread == graph, "a written graph loads the same");
}

void record_topics_round_trip(fuzz::Bytes& in) {
  graph::RecordTopics map;
  for (auto n = in.u8() % 8; n > 0; --n) {
    auto& topics = map[in.text()];
    for (auto k = in.u8() % 4; k > 0; --k) topics.push_back(in.text());
  }
  const auto reread = graph::parse_record_topics(graph::record_topics_to_json(map));
  fuzz::check(reread && *reread == map, "written record topics load the same");
}

void metrics_round_trip(fuzz::Bytes& in) {
  const store::Metrics metrics{in.raw<std::uint64_t>(), in.raw<std::uint64_t>(),
                               in.raw<std::uint64_t>(), in.raw<std::uint64_t>()};
  const auto reread = store::parse_metrics(store::metrics_to_json(metrics));
  fuzz::check(reread && *reread == metrics, "written metrics load the same");
}

void float_round_trip(fuzz::Bytes& in) {
  const float value = finite_float(in);
  std::string text;
  json::append_float32(text, value);
  float direct = 0.0f;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), direct);
  fuzz::check(ec == std::errc{} && end == text.data() + text.size(), "float text parses");
  fuzz::check(std::bit_cast<std::uint32_t>(direct) == std::bit_cast<std::uint32_t>(value),
              "float text reads back to the same float");
  // The loaders read numbers as doubles and narrow them.
  const auto narrowed = static_cast<float>(std::strtod(text.c_str(), nullptr));
  fuzz::check(std::bit_cast<std::uint32_t>(narrowed) == std::bit_cast<std::uint32_t>(value),
              "float text read as a double narrows to the same float");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(fuzz::as_text(data, size));
  switch (in.u8() % 4) {
    case 0:
      graph_round_trip(in);
      break;
    case 1:
      record_topics_round_trip(in);
      break;
    case 2:
      metrics_round_trip(in);
      break;
    default:
      float_round_trip(in);
      break;
  }
  return 0;
}
