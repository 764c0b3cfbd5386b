#pragma once

// The months of the record dates, which the snapshots and the reports follow.

#include <string>
#include <vector>

#include "journal/entry.hpp"

namespace journal {

// Distinct first seven bytes (YYYY-MM) of the record dates, ascending. Dates
// shorter than seven bytes, or whose seventh byte would split a character, are
// left out.
std::vector<std::string> month_list(const std::vector<JournalEntry>& records);

}  // namespace journal
