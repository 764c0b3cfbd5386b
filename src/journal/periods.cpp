#include "journal/periods.hpp"

#include "util/text.hpp"

namespace journal {

std::vector<std::string> month_list(const std::vector<JournalEntry>& records) {
  std::vector<std::string> months;
  for (const auto& record : records) {
    if (record.date.size() >= 7 && text::is_char_boundary(record.date, 7)) {
      months.push_back(record.date.substr(0, 7));
    }
  }
  return text::sorted_unique(std::move(months));
}

std::vector<std::string> day_list(const std::vector<JournalEntry>& records) {
  std::vector<std::string> days;
  for (const auto& record : records) {
    if (record.date.starts_with("2026-07")) days.push_back(record.date);
  }
  return text::sorted_unique(std::move(days));
}

}  // namespace journal
