#pragma once

// Identifiers derived from the data a node stands for, default canvas
// positions, and the small graph edits shared by goal creation and the rebuild.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "graph/model.hpp"

namespace graph {

// `text` with every character that is neither an ASCII letter or digit nor a
// non-ASCII alphabetic or numeric character replaced by "_", then stripped of
// "_" at both ends.
std::string slug(std::string_view text);

// "r_" + date without "-" + "_" + time without ":" (not slugged).
std::string record_node_id(std::string_view date, std::string_view time);

// "g_" + slug of the goal name.
std::string goal_node_id(std::string_view name);

// The name with each "/"-separated piece cut to its first 30 characters.
std::string normalize_topic_name(std::string_view name);

// "t_" + slug of the normalised topic name.
std::string topic_node_id(std::string_view name);

// "e_" + record id + "_" + target id: the link from a record to a goal or topic.
std::string record_edge_id(std::string_view record_id, std::string_view target_id);

// "g2t_" + goal id + "_" + topic id.
std::string goal_topic_edge_id(std::string_view goal_id, std::string_view topic_id);

// Display title of a record node taken from its file name, or nothing when the
// name does not carry one (the record's own title is used then).
std::optional<std::string> node_title_from_file_name(std::string_view file_name);

struct Position {
  float x = 0.0f;
  float y = 0.0f;
};

// Where a new node with `id` goes when the graph holds `node_count` nodes
// before it: x from a hash of the id, y a row that stops growing at the ninth.
Position default_position(std::string_view id, std::size_t node_count);

// Sets the progress of the goal node of `name`, or appends it at its default
// position; a non-goal node under that id is left alone.
void upsert_goal_node(Graph& graph, std::string_view name, std::uint8_t progress);

// Appends the topic node of `name` unless its id exists; returns the id.
Atom upsert_topic_node(Graph& graph, std::string_view name);

// Replaces the edge with the same id, else updates weight, source and
// confirmed of the first edge with the same ends, else appends `edge`.
void upsert_edge(Graph& graph, Edge edge);

}  // namespace graph
