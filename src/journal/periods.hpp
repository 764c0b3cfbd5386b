#pragma once

// The periods a run reports on, derived from the record dates.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"

namespace journal {

// Distinct first seven bytes (YYYY-MM) of the record dates, ascending. Dates
// shorter than seven bytes, or whose seventh byte would split a character, are
// left out.
std::vector<std::string> month_list(const std::vector<JournalEntry>& records);

// Distinct record dates that begin with "2026-07", ascending.
std::vector<std::string> day_list(const std::vector<JournalEntry>& records);

// The fixed start dates of the reported weeks.
inline constexpr std::array<std::string_view, 5> kWeekStarts = {
    "2026-07-01", "2026-07-08", "2026-07-15", "2026-07-22", "2026-07-29"};

}  // namespace journal
