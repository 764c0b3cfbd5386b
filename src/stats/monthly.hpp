#pragma once

// The statistics of one calendar month: totals, averages, three phases, goal
// movement between the month's first and last day, and the entries as lines.

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "journal/entry.hpp"
#include "journal/files.hpp"
#include "stats/common.hpp"
#include "stats/snapshot.hpp"

namespace stats {

// Most lines a month's record titles list.
inline constexpr std::size_t kMonthlyTitleLimit = 60;
using journal::kSnippetChars;

struct MonthPhase {
  std::string range;  // 7.1-7.10
  std::string trait;
  float avg_focus = 0.0f;
  float avg_affect = 0.0f;
};

// The three phases of a month of `days_in_month` days as (first day, last day).
std::array<std::pair<int, int>, 3> phase_bounds(int days_in_month);

// The trait of a phase holding `phase_entries` of the month's `total_entries`.
std::string phase_trait(std::size_t phase_entries, std::size_t total_entries);

// An entry body with its white space runs collapsed to single spaces, cut to
// its first 50 characters.
std::string body_snippet(std::string_view body);

struct MonthlyStats {
  std::string period;  // YYYY-MM
  std::size_t days_recorded = 0;
  std::size_t total_entries = 0;
  RatingMeans avg_ratings{};
  std::array<MonthPhase, 3> phases{};
  // Goals present in both boundary snapshots, ascending by goal.
  std::vector<GoalChange> goal_evolution;
  ReportSentences sentences;
  std::vector<std::string> record_titles;
  std::vector<std::string> record_snippets;
  // Topic → entries carrying it, in order of first appearance; feeds the report
  // sentences and is not part of the JSON.
  std::vector<std::pair<std::string, std::size_t>> topic_counts;
};

// The month `month` (YYYY-MM) from its day listings and the snapshots, or
// "非法月份: " and the text when it does not parse.
std::expected<MonthlyStats, std::string> build_monthly_stats(journal::DayListingCache& days,
                                                             SnapshotIndex& snapshots,
                                                             std::string_view month);

// Compact JSON in the fixed key order.
std::string monthly_stats_json(const MonthlyStats& stats);

}  // namespace stats
