#pragma once

// The graph as this program last wrote graph.json, kept in binary beside the
// record cache. A run that finds graph.json holding exactly those bytes (the
// same hash) takes the graph from here instead of parsing tens of megabytes
// of JSON. Like the record cache it holds nothing of the user's: whatever is
// wrong with it only means graph.json is parsed.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "graph/model.hpp"

namespace cache {

// The bytes of a kept graph: `graph` as graph.json holds it, whose bytes
// hash to `file_hash`; piece by piece to `put`.
void write_graph(const graph::Graph& graph, std::uint64_t file_hash,
                 const std::function<void(std::string_view)>& put);
std::string encode_graph(const graph::Graph& graph, std::uint64_t file_hash);

// A kept graph, checked whole but not yet decoded.
class HeldGraph {
 public:
  // Nothing unless `bytes` are a whole kept graph of this format and this
  // program's version.
  static std::optional<HeldGraph> of(std::string bytes);
  // The hash of the graph.json bytes it stands for.
  std::uint64_t file_hash() const { return file_hash_; }
  // The same from the first kHeadBytes bytes of a kept graph, unchecked:
  // enough to tell whether the whole is worth reading.
  static constexpr std::size_t kHeadBytes = 256;
  static std::optional<std::uint64_t> file_hash_of(std::string_view head);
  // The graph; nothing when a field is out of range.
  std::optional<graph::Graph> decode() const;

 private:
  HeldGraph(std::string bytes, std::uint64_t file_hash, std::size_t body)
      : bytes_(std::move(bytes)), file_hash_(file_hash), body_(body) {}
  std::string bytes_;
  std::uint64_t file_hash_ = 0;
  // Where the graph begins in the bytes.
  std::size_t body_ = 0;
};

}  // namespace cache
