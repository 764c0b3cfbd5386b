#pragma once

// The statistics of one seven-day week against the week before it.

#include <array>
#include <cstdint>
#include <expected>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "journal/entry.hpp"
#include "journal/files.hpp"
#include "stats/common.hpp"
#include "stats/snapshot.hpp"

namespace stats {

// Most lines a week's record titles list.
inline constexpr std::size_t kWeeklyTitleLimit = 40;

struct TrendValue {
  float this_week = 0.0f;
  float last_week = 0.0f;
  std::string trend;  // "up", "down" or "flat"
};

struct GoalMove {
  std::uint8_t from = 0;
  std::uint8_t to = 0;
};

struct WeeklyStats {
  std::string period;  // ISO week key, 2026-w27
  std::string start;
  std::string end;
  std::size_t days_recorded = 0;
  std::size_t total_entries = 0;
  // Per rating kind, in the fixed rating order.
  std::array<TrendValue, journal::kRatingCount> daily_avgs{};
  // In order of first appearance over the week's entries.
  std::vector<std::pair<std::string, std::size_t>> topic_counts;
  std::map<std::string, GoalMove> goal_progress;
  ReportSentences sentences;
  std::vector<std::string> record_titles;
};

// "up" when this − last > 0.15, "down" when below −0.15, else "flat", all in
// 32-bit arithmetic.
std::string trend_of(float this_week, float last_week);

// The week starting at `start` (YYYY-MM-DD) and ending six days later, with its
// goal movement from the snapshots; "非法日期: " and the text when `start` is not
// a calendar date.
std::expected<WeeklyStats, std::string> build_weekly_stats(journal::DayListingCache& days,
                                                           SnapshotIndex& snapshots,
                                                           std::string_view start);

// Compact JSON in the fixed key order.
std::string weekly_stats_json(const WeeklyStats& stats);

}  // namespace stats
