#pragma once

// The record-topics map kept in .system/record_topics.json: for each journal
// file name, the topic names assigned to it, as the next rebuild reads them.

#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "files/output_file.hpp"
#include "journal/entry.hpp"
#include "store/workspace.hpp"

namespace graph {

// File name to topic names; std::map orders the keys by their bytes.
using RecordTopics = std::map<std::string, std::vector<std::string>>;

// The map held in the text of a record_topics.json file; nothing when the text
// is not such a file.
std::optional<RecordTopics> parse_record_topics(std::string_view text);

// The map in the workspace; any problem with the file gives the empty map.
// Of two equal keys the later one wins.
RecordTopics load_record_topics(store::Workspace& workspace);

// The exact pretty JSON text of `map` as record_topics_file stores it.
std::string record_topics_to_json(const RecordTopics& map);

// Sets the entry of every record that has topics to its topic list in `map`,
// the map as this run loaded it; other entries stay. The file to write, or
// nothing when no entry changed.
std::optional<files::OutputFile> record_topics_file(
    RecordTopics map, const std::vector<journal::JournalEntry>& records);

}  // namespace graph
