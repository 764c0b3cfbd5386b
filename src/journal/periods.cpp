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

}  // namespace journal
