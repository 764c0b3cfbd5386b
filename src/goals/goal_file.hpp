#pragma once

// The Markdown text of one goal file: its model, the parser and the pure text
// edits that file an entry line into it. Nothing here touches the disk.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"

namespace goals {

// One entry line of a section: date, text and the five ratings (0 = none).
struct GoalEntry {
  std::string date;
  std::string text;
  std::uint8_t initiative = 0;
  std::uint8_t focus = 0;
  std::uint8_t persistence = 0;
  std::uint8_t affect = 0;
  std::uint8_t reflection = 0;
  bool operator==(const GoalEntry&) const = default;
};

// A "## " section (sub-goal) with its entries in file order.
struct GoalSection {
  std::string name;
  std::vector<GoalEntry> entries;
  std::uint8_t progress = 0;
  bool operator==(const GoalSection&) const = default;
};

// A parsed goal file; `name` comes from the caller, not from the title line.
struct GoalFile {
  std::string name;
  std::string note;
  std::vector<GoalSection> sections;
  std::uint8_t progress = 0;
  bool operator==(const GoalFile&) const = default;
};

// Where the file of goal `name` lives, relative to the root: the goals
// directory joined with `name` + ".md", unescaped, so a "/" in the name makes a
// subdirectory.
std::filesystem::path goal_file_path(std::string_view name);

// The text of a new or reset goal file: title, empty line, "> 0% | —".
std::string new_goal_text(std::string_view name);

// The line that files `entry` into a goal: "- ", date, display name, " ", and
// the non-zero rating tags joined by spaces (so an unrated entry ends in a space).
std::string entry_line(const journal::JournalEntry& entry);

// A goal text split at its first "/": the file's goal name (untrimmed) and the
// trimmed section name when there is one.
struct GoalTarget {
  std::string_view name;
  std::optional<std::string_view> section;
};
GoalTarget split_goal(std::string_view goal);

// The section name a heading line files under when appending: the last word
// after "## " is dropped when, less its trailing "%", it reads as a 32-bit
// number. Nothing when the trimmed line is not a heading.
std::optional<std::string_view> heading_name_for_append(std::string_view line);

// The goal file model read from `text`; `name` is taken as given. Never fails.
GoalFile parse_goal_file(std::string_view name, std::string_view text);

}  // namespace goals
