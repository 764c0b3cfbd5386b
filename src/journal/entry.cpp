#include "journal/entry.hpp"

#include <algorithm>

#include "util/text.hpp"

namespace journal {
namespace {

constexpr std::string_view kArrow = "→";

bool is_rating_digit(char c) { return c >= '1' && c <= '3'; }

// Label characters are all three bytes long in UTF-8.
constexpr std::size_t kLabelBytes = 3;

std::optional<std::string> find_time(const std::vector<std::string_view>& lines) {
  for (const auto line : lines) {
    const auto trimmed = text::trim(line);
    if (!trimmed.starts_with("## ")) continue;
    const auto rest = text::trim(trimmed.substr(3));
    if (rest.size() == 5 && rest[2] == ':' && text::all_ascii_digits(rest.substr(0, 2)) &&
        text::all_ascii_digits(rest.substr(3))) {
      return std::string(rest);
    }
  }
  return std::nullopt;
}

// A rating token is exactly a label followed by one of the digits 1 to 3.
std::optional<std::pair<std::size_t, std::uint8_t>> rating_token(std::string_view token) {
  if (token.size() != kLabelBytes + 1 || !is_rating_digit(token.back())) return std::nullopt;
  const auto label = rating_label_index(token.substr(0, kLabelBytes));
  if (!label) return std::nullopt;
  return std::pair{*label, static_cast<std::uint8_t>(token.back() - '0')};
}

void read_rating_line(const std::vector<std::string_view>& lines, JournalEntry& entry) {
  for (const auto line : lines) {
    const auto trimmed = text::trim(line);
    if (trimmed.empty()) continue;
    const std::size_t arrow = trimmed.find(kArrow);
    const auto head = trimmed.substr(0, arrow);
    const auto tokens = text::split_white_space(head);
    if (tokens.empty() || tokens.size() > kRatingCount) continue;
    std::vector<std::pair<std::size_t, std::uint8_t>> ratings;
    for (const auto token : tokens) {
      const auto rating = rating_token(token);
      if (!rating) break;
      ratings.push_back(*rating);
    }
    if (ratings.size() != tokens.size()) continue;

    for (const auto& [index, value] : ratings) entry.rating(index) = value;
    if (arrow != std::string_view::npos) {
      const auto goal = text::trim(trimmed.substr(arrow + kArrow.size()));
      if (!goal.empty()) entry.goal = std::string(goal);
    }
    return;
  }
}

// A stop line starts (after white space) with a label directly followed by 1-3;
// deliberately looser than the rating-line test.
bool is_stop_line(std::string_view line) {
  const auto rest = text::trim_start(line);
  return rest.size() > kLabelBytes && rating_label_index(rest.substr(0, kLabelBytes)) &&
         is_rating_digit(rest[kLabelBytes]);
}

std::string read_body(const std::vector<std::string_view>& lines, std::string_view time) {
  const std::string heading = "## " + std::string(time);
  auto it = std::ranges::find_if(
      lines, [&](std::string_view line) { return text::trim(line) == heading; });
  if (it == lines.end()) return {};
  std::vector<std::string_view> collected;
  for (++it; it != lines.end(); ++it) {
    const auto line = *it;
    if (is_stop_line(line)) break;
    if (text::trim(line).empty()) {
      if (!collected.empty()) collected.emplace_back();
    } else {
      collected.push_back(line);
    }
  }
  while (!collected.empty() && collected.back().empty()) collected.pop_back();
  std::string body;
  for (std::size_t i = 0; i < collected.size(); ++i) {
    if (i > 0) body.push_back('\n');
    body.append(collected[i]);
  }
  return body;
}

std::string read_title(const std::vector<std::string_view>& lines, std::string_view file_name) {
  for (const auto line : lines) {
    const auto trimmed = text::trim(line);
    if (trimmed.empty()) continue;
    if (trimmed.starts_with("# ")) {
      const auto title = text::trim(trimmed.substr(2));
      if (!title.empty()) return std::string(title);
    }
    break;
  }
  std::string_view stem = file_name;
  if (stem.ends_with(".md")) stem.remove_suffix(3);
  if (stem.size() > 11 && std::count(stem.begin(), stem.begin() + 11, '-') >= 2 &&
      text::is_char_boundary(stem, 11)) {
    return std::string(stem.substr(11));
  }
  return {};
}

}  // namespace

std::uint8_t& JournalEntry::rating(std::size_t index) {
  switch (index) {
    case 0:
      return initiative;
    case 1:
      return focus;
    case 2:
      return persistence;
    case 3:
      return affect;
    default:
      return reflection;
  }
}

std::optional<std::size_t> rating_label_index(std::string_view c) {
  for (std::size_t i = 0; i < kRatingLabels.size(); ++i) {
    if (c == kRatingLabels[i]) return i;
  }
  return std::nullopt;
}

std::optional<JournalEntry> parse_entry(std::string_view text, std::string_view date,
                                        std::string_view file_name) {
  const auto lines = text::lines(text);
  auto time = find_time(lines);
  if (!time) return std::nullopt;

  JournalEntry entry;
  entry.date = date;
  entry.file_name = std::string(file_name);
  entry.time = *time;
  read_rating_line(lines, entry);
  entry.body = read_body(lines, entry.time);
  entry.title = read_title(lines, file_name);
  return entry;
}

void keep_snippet_only(JournalEntry& entry) {
  const std::string_view body = entry.body;
  std::size_t i = 0;
  for (std::size_t seen = 0; i < body.size() && seen < kSnippetChars;) {
    if (!text::is_white_space(text::next_char(body, i))) ++seen;
  }
  if (i == body.size()) return;
  entry.body.resize(i);
  entry.body.shrink_to_fit();
}

std::optional<std::string> title_from_file_name(std::string_view file_name) {
  if (!file_name.ends_with(".md") || file_name.size() <= 14 ||
      !text::is_char_boundary(file_name, 11)) {
    return std::nullopt;
  }
  return std::string(file_name.substr(11, file_name.size() - 14));
}

std::string display_title(const JournalEntry& entry) {
  return title_from_file_name(entry.file_name).value_or(entry.title);
}

}  // namespace journal
