#pragma once

// The days and weeks the reports cover besides the months of the records.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"

namespace summary {

// Distinct record dates that begin with "2026-07", ascending: the days that get
// a daily report.
std::vector<std::string> day_list(const std::vector<journal::JournalEntry>& records);

// The start dates of the weeks that get a weekly report, whatever the records.
inline constexpr std::array<std::string_view, 5> kWeekStarts = {
    "2026-07-01", "2026-07-08", "2026-07-15", "2026-07-22", "2026-07-29"};

}  // namespace summary
