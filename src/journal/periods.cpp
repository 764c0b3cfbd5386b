#include "journal/periods.hpp"

#include <algorithm>

#include "util/text.hpp"

namespace journal {
namespace {

std::vector<std::string> sorted_unique(std::vector<std::string> values) {
  std::ranges::sort(values);
  const auto [first, last] = std::ranges::unique(values);
  values.erase(first, last);
  return values;
}

}  // namespace

std::vector<std::string> month_list(const std::vector<JournalEntry>& records) {
  std::vector<std::string> months;
  for (const auto& record : records) {
    if (record.date.size() >= 7 && text::is_char_boundary(record.date, 7)) {
      months.push_back(record.date.substr(0, 7));
    }
  }
  return sorted_unique(std::move(months));
}

std::vector<std::string> day_list(const std::vector<JournalEntry>& records) {
  std::vector<std::string> days;
  for (const auto& record : records) {
    if (record.date.starts_with("2026-07")) days.push_back(record.date);
  }
  return sorted_unique(std::move(days));
}

}  // namespace journal
