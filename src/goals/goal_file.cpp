#include "goals/goal_file.hpp"

#include <array>
#include <limits>

#include "files/path_text.hpp"
#include "store/layout.hpp"
#include "util/text.hpp"

namespace goals {

namespace {

constexpr std::string_view kHeadingMarker = "## ";
constexpr std::string_view kEntryMarker = "- ";

std::string_view strip_trailing_percent(std::string_view s) {
  while (s.ends_with('%')) s.remove_suffix(1);
  return s;
}

struct Heading {
  std::string_view name;
  std::uint64_t progress = 0;
};

// Reads the text after "## ". The appending rule and the parser differ only in
// how large a trailing progress number may be, so headings such as "阅读 300%"
// are named differently by the two.
Heading read_heading(std::string_view after_marker, std::uint64_t max_progress) {
  const std::size_t space = after_marker.rfind(' ');
  if (space != std::string_view::npos) {
    const auto word = strip_trailing_percent(text::trim(after_marker.substr(space + 1)));
    if (const auto number = text::unsigned_decimal(word, max_progress)) {
      return {text::trim(after_marker.substr(0, space)), *number};
    }
  }
  return {text::trim(after_marker), 0};
}

// A rating tag such as "动2": its kind and value, when the value is 1 to 3.
std::optional<std::pair<std::size_t, std::uint8_t>> read_rating_token(std::string_view token) {
  if (token.size() < 2) return std::nullopt;
  for (std::size_t kind = 0; kind < journal::kRatingCount; ++kind) {
    const auto label = journal::kRatingLabels[kind];
    if (!token.starts_with(label)) continue;
    const auto value = text::unsigned_decimal(token.substr(label.size()), 255);
    if (!value || *value < 1 || *value > 3) return std::nullopt;
    return std::pair{kind, static_cast<std::uint8_t>(*value)};
  }
  return std::nullopt;
}

std::string join(const std::vector<std::string_view>& tokens, std::size_t end) {
  std::string out;
  for (std::size_t i = 0; i < end; ++i) {
    if (i > 0) out += ' ';
    out += tokens[i];
  }
  return out;
}

std::optional<GoalEntry> read_entry(std::string_view after_marker) {
  const std::size_t space = after_marker.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  GoalEntry entry;
  entry.date = std::string(after_marker.substr(0, space));
  const auto tokens = text::split_white_space(after_marker.substr(space + 1));

  // Only a full window of five tags counts as ratings; the lines this tool
  // writes carry fewer, and those tags stay part of the text.
  std::size_t run = 0;
  std::optional<std::size_t> window;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    run = read_rating_token(tokens[i]) ? run + 1 : 0;
    if (run == journal::kRatingCount) {
      window = i + 1 - journal::kRatingCount;
      break;
    }
  }
  if (!window) {
    entry.text = join(tokens, tokens.size());
    return entry;
  }
  entry.text = join(tokens, *window);
  std::array<std::uint8_t*, journal::kRatingCount> slots = {
      &entry.initiative, &entry.focus, &entry.persistence, &entry.affect, &entry.reflection};
  for (std::size_t i = *window; i < *window + journal::kRatingCount; ++i) {
    const auto [kind, value] = *read_rating_token(tokens[i]);
    *slots[kind] = value;
  }
  return entry;
}

}  // namespace

std::filesystem::path goal_file_path(std::string_view name) {
  return std::filesystem::path(store::kGoalsDir) / files::utf8_path(std::string(name) + ".md");
}

std::string new_goal_text(std::string_view name) {
  std::string out = "# ";
  text::append_escaped_controls(out, name);
  out += "\n\n> 0% | —\n";
  return out;
}

std::string entry_line(const journal::JournalEntry& entry) {
  std::string line = "- ";
  text::append_escaped_controls(line, entry.date);
  line += ' ';
  text::append_escaped_controls(line, journal::display_title(entry));
  line += ' ';
  bool first = true;
  const auto ratings = entry.ratings();
  for (std::size_t kind = 0; kind < journal::kRatingCount; ++kind) {
    if (ratings[kind] == 0) continue;
    if (!first) line += ' ';
    first = false;
    line += journal::kRatingLabels[kind];
    line += std::to_string(ratings[kind]);
  }
  return line;
}

GoalTarget split_goal(std::string_view goal) {
  const std::size_t slash = goal.find('/');
  if (slash == std::string_view::npos) return {goal, std::nullopt};
  return {goal.substr(0, slash), text::trim(goal.substr(slash + 1))};
}

std::optional<std::string_view> heading_name_for_append(std::string_view line) {
  const auto trimmed = text::trim(line);
  if (!trimmed.starts_with(kHeadingMarker)) return std::nullopt;
  return read_heading(trimmed.substr(kHeadingMarker.size()),
                      std::numeric_limits<std::uint32_t>::max())
      .name;
}

GoalFile parse_goal_file(std::string_view name, std::string_view text) {
  GoalFile goal;
  goal.name = std::string(name);
  std::optional<GoalSection> open;
  for (const auto raw : text::lines(text)) {
    const auto line = text::trim(raw);
    if (line.empty()) continue;
    if (line.starts_with('>')) {
      const auto rest = text::trim(line.substr(1));
      const std::size_t bar = rest.find('|');
      if (bar == std::string_view::npos) continue;
      const auto number =
          text::unsigned_decimal(strip_trailing_percent(text::trim(rest.substr(0, bar))),
                                 std::numeric_limits<std::uint8_t>::max());
      goal.progress = static_cast<std::uint8_t>(number.value_or(0));
      goal.note = std::string(text::trim(rest.substr(bar + 1)));
    } else if (line.starts_with(kHeadingMarker)) {
      if (open) goal.sections.push_back(std::move(*open));
      const auto heading = read_heading(line.substr(kHeadingMarker.size()),
                                        std::numeric_limits<std::uint8_t>::max());
      open =
          GoalSection{std::string(heading.name), {}, static_cast<std::uint8_t>(heading.progress)};
    } else if (line.starts_with(kEntryMarker) && open) {
      if (auto entry = read_entry(line.substr(kEntryMarker.size()))) {
        open->entries.push_back(std::move(*entry));
      }
    }
  }
  if (open) goal.sections.push_back(std::move(*open));
  return goal;
}

}  // namespace goals
