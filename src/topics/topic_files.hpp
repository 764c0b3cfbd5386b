#pragma once

// The topic files and the topics index, derived from the topic nodes of the
// graph for people to read; this tool never reads them back.

#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "files/names.hpp"
#include "files/output_file.hpp"
#include "graph/model.hpp"

namespace topics {

// The index text: topics by link count (every edge between existing nodes
// that touches the topic), then by name bytes.
std::string topics_index_text(const graph::Graph& graph);

// The file text of topic `name` listing `count` entry lines ("- date
// title"), given as `entry_lines`, each ended by a line break.
std::string topic_file_text(std::string_view name, std::size_t count, std::string_view entry_lines);

// .system/topics/_index.md from `graph`, the graph as saved, then one file per
// topic node, made a batch at a time: thousands of topic texts need not stand
// in memory at once. A topic whose name cannot be a file name below the
// topics directory, or whose file name `names` takes for an earlier topic's,
// gets a warning on `err` instead, all of them before the first batch.
class TopicFiles {
 public:
  // Files per batch: enough to keep the writer busy, few enough to hold.
  static constexpr std::size_t kBatch = 256;

  // `graph` must outlive the object.
  TopicFiles(const graph::Graph& graph, files::FileNames names, std::ostream& err);

  // The next files in order, at most `count` (the index comes first); none
  // once every file has been made.
  files::OutputFiles next(std::size_t count = kBatch);

 private:
  const graph::Graph& graph_;
  bool index_made_ = false;
  std::size_t next_node_ = 0;
  std::vector<bool> unsafe_;
  std::unordered_map<graph::Atom, std::size_t> first_node_by_id_;
  std::unordered_map<graph::Atom, std::vector<std::size_t>> edges_by_topic_id_;
};

}  // namespace topics
