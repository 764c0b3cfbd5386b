#pragma once

// The topic files and the topics index, derived from the topic nodes of the
// graph for people to read; this tool never reads them back.

#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "graph/model.hpp"
#include "store/writer.hpp"

namespace topics {

// The index text: topics by link count (every edge between existing nodes
// that touches the topic), then by name bytes.
std::string topics_index_text(const graph::Graph& graph);

// The file text of topic `name` listing `entry_lines` ("- date title").
std::string topic_file_text(std::string_view name, const std::vector<std::string>& entry_lines);

// .system/topics/_index.md from `graph`, the graph as saved, then one file per
// topic node; a topic whose name cannot be a file name below the topics
// directory gets a warning on `err` instead.
store::OutputFiles topic_files(const graph::Graph& graph, std::ostream& err);

}  // namespace topics
