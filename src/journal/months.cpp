#include "journal/months.hpp"

#include "util/text.hpp"

namespace journal {

std::vector<std::string> month_list(const std::vector<JournalEntry>& records) {
  std::vector<std::string> months;
  for (const auto& record : records) {
    if (record.date.size() >= 7 && text::is_char_boundary(record.date, 7)) {
      // Records come sorted by date: most repeat the month before them.
      const std::string_view month = std::string_view(record.date).substr(0, 7);
      if (months.empty() || months.back() != month) months.emplace_back(month);
    }
  }
  return text::sorted_unique(std::move(months));
}

}  // namespace journal
