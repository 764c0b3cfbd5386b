#include "support/goal_reference.hpp"

#include "goals/goal_file.hpp"

namespace testing_support {
namespace {

std::string append_line(std::string_view text, std::string_view line) {
  std::string out(text);
  if (out.empty() || out.back() != '\n') out += '\n';
  out += line;
  out += '\n';
  return out;
}

}  // namespace

std::string insert_entry_line(std::string_view text, std::string_view line,
                              std::optional<std::string_view> section) {
  if (!section) return append_line(text, line);
  std::string out;
  bool inside = false;
  bool inserted = false;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    const auto piece = text.substr(start, end - start);
    if (const auto name = goals::heading_name_for_append(piece)) {
      if (inside && !inserted) {
        out += line;
        out += '\n';
        inserted = true;
      }
      inside = *name == *section;
    }
    out += piece;
    start = end;
  }
  if (inside && !inserted) {
    if (!out.ends_with('\n')) out += '\n';
    out += line;
    out += '\n';
    inserted = true;
  }
  if (!inserted) return append_line(text, line);
  return out;
}

}  // namespace testing_support
