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

namespace topics {

// The index text: topics by link count (every edge between existing nodes
// that touches the topic), then by name bytes.
std::string topics_index_text(const graph::Graph& graph);

// The file text of topic `name` listing `entry_lines` ("- date title").
std::string topic_file_text(std::string_view name, const std::vector<std::string>& entry_lines);

// Rewrites .system/topics/_index.md from graph.json, or from `graph`.
std::expected<void, std::string> write_topics_index(const std::filesystem::path& root);
std::expected<void, std::string> write_topics_index(const std::filesystem::path& root,
                                                    const graph::Graph& graph);

// Writes one file per topic node from graph.json, or from `graph`; a topic
// whose name would leave the topics directory gets a warning on `err` instead.
// Stops at the first file that cannot be written.
std::expected<void, std::string> write_topic_files(const std::filesystem::path& root,
                                                   std::ostream& err);
std::expected<void, std::string> write_topic_files(const std::filesystem::path& root,
                                                   const graph::Graph& graph, std::ostream& err);

}  // namespace topics
