#include "graph/ids.hpp"

#include <algorithm>

#include "journal/entry.hpp"
#include "util/text.hpp"

namespace graph {

namespace {

constexpr std::size_t kTopicPieceChars = 30;

std::string without(std::string_view text, char removed) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c != removed) out.push_back(c);
  }
  return out;
}

bool is_ascii_alphanumeric(char32_t c) {
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9');
}

}  // namespace

std::string slug(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    const char32_t c = text::next_char(text, i);
    const bool keep = c < 0x80 ? is_ascii_alphanumeric(c) : text::is_alphabetic_or_numeric(c);
    if (keep) {
      out.append(text.substr(start, i - start));
    } else {
      out.push_back('_');
    }
  }
  const std::size_t first = out.find_first_not_of('_');
  if (first == std::string::npos) return {};
  const std::size_t last = out.find_last_not_of('_');
  return out.substr(first, last - first + 1);
}

std::string record_node_id(std::string_view date, std::string_view time) {
  return "r_" + without(date, '-') + "_" + without(time, ':');
}

std::string goal_node_id(std::string_view name) { return "g_" + slug(name); }

std::string normalize_topic_name(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = name.find('/', start);
    const std::string_view piece = name.substr(
        start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    out.append(text::first_chars(piece, kTopicPieceChars));
    if (slash == std::string_view::npos) break;
    out.push_back('/');
    start = slash + 1;
  }
  return out;
}

std::optional<std::string> node_title_from_file_name(std::string_view file_name) {
  return journal::title_from_file_name(file_name);
}

Position default_position(std::string_view id, std::size_t node_count) {
  unsigned h = 0;
  for (const char c : id) h = (h * 31 + static_cast<unsigned char>(c)) % 360;
  const std::size_t rows = std::min<std::size_t>(node_count, 8);
  return {static_cast<float>(80 + h), static_cast<float>(80 + 70 * rows)};
}

}  // namespace graph
