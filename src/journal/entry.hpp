#pragma once

// One journal record and the parser that reads it from its Markdown file.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/short_text.hpp"

namespace journal {

// The five rating kinds, always in this order, with their JSON names and the
// label characters that stand for them in entry files.
inline constexpr std::size_t kRatingCount = 5;
inline constexpr std::array<std::string_view, kRatingCount> kRatingNames = {
    "initiative", "focus", "persistence", "affect", "reflection"};
inline constexpr std::array<std::string_view, kRatingCount> kRatingLabels = {"动", "专", "持", "情",
                                                                             "反"};

struct JournalEntry {
  // "YYYY-MM-DD" and "HH:MM", held in place.
  text::ShortText<15> date;
  text::ShortText<7> time;
  std::string title;
  std::string body;
  std::vector<std::string> topics;
  std::string file_name;
  std::optional<std::string> goal;
  std::uint8_t initiative = 0;
  std::uint8_t focus = 0;
  std::uint8_t persistence = 0;
  std::uint8_t affect = 0;
  std::uint8_t reflection = 0;

  // The five ratings in the fixed order (0 = not rated).
  std::array<std::uint8_t, kRatingCount> ratings() const {
    return {initiative, focus, persistence, affect, reflection};
  }
  // The rating of kind `index` (0..4) for writing.
  std::uint8_t& rating(std::size_t index);

  bool operator==(const JournalEntry&) const = default;
};

// Characters of an entry's body that a report shows of it, as its snippet.
inline constexpr std::size_t kSnippetChars = 50;

// Cuts the body of `entry` after its kSnippetChars-th character other than
// white space: a snippet is made of no more. Bodies are most of a journal's
// bytes, and nothing after the scan reads further into them.
void keep_snippet_only(JournalEntry& entry);

// Index of the rating label `c` (one character of UTF-8), or nothing.
std::optional<std::size_t> rating_label_index(std::string_view c);

// Parses the text of one entry file. Returns nothing exactly when the text has
// no "## HH:MM" time heading; everything else is tolerated.
std::optional<JournalEntry> parse_entry(std::string_view text, std::string_view date,
                                        std::string_view file_name);

// Title of a record derived from its file name: the name without the 11-byte
// date prefix and the ".md" ending, when the name ends with ".md", is longer than
// 14 bytes and the cut falls on a character boundary; otherwise nothing.
std::optional<std::string> title_from_file_name(std::string_view file_name);

// The name shown for `entry` in reports, goal files and the graph: the title
// its file name carries when the date prefix and ".md" cut off cleanly, else
// the entry's own title.
std::string display_title(const JournalEntry& entry);

}  // namespace journal
