#pragma once

// Identifiers derived from the data a node stands for, and default canvas
// positions.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

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

}  // namespace graph
