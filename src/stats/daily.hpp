#pragma once

// The statistics of one calendar day, embedded in the day's report.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"
#include "journal/files.hpp"
#include "stats/common.hpp"

namespace stats {

struct DailyEntry {
  std::string time;
  std::string filename;
  std::string title;
  std::array<std::uint8_t, journal::kRatingCount> ratings{};
  std::optional<std::string> goal;
  std::vector<std::string> topics;
};

// The strongest or weakest entry of a day and why it was picked.
struct DayMoment {
  std::string time;
  std::string text;
  std::string reason;
};

struct DailyStats {
  std::string date;
  std::size_t count = 0;
  std::vector<DailyEntry> entries;
  RatingMeans daily_avg{};
  std::vector<std::string> goals_touched;
  std::vector<std::string> topics_touched;
  std::optional<DayMoment> highlight;
  std::optional<DayMoment> breakpoint;
};

// The statistics of `date` over its entries as listed (in time order).
DailyStats daily_stats_from_entries(std::string_view date,
                                    const std::vector<journal::JournalEntry>& entries);

// The statistics of `date` from the journal, or the listing's "非法日期: " error.
std::expected<DailyStats, std::string> build_daily_stats(journal::DayListingCache& days,
                                                         std::string_view date);

// Compact JSON in the fixed key order.
std::string daily_stats_json(const DailyStats& stats);

}  // namespace stats
