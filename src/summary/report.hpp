#pragma once

// The rule-derived sentences of the monthly, weekly and daily reports.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "stats/common.hpp"
#include "stats/daily.hpp"
#include "stats/monthly.hpp"
#include "stats/weekly.hpp"

namespace summary {

struct PeriodReport {
  std::string work;             // shown as 本期工作
  std::string next_step;        // shown as 下一步推进
  std::string efficiency_note;  // shown as 效能附注 when not blank
  // (heading, body) pairs; the reports of this tool have none.
  std::vector<std::pair<std::string, std::string>> sections;
};

// Topics by count, descending, equal counts by topic bytes, ascending.
std::vector<std::pair<std::string, std::size_t>> rank_topics(
    std::vector<std::pair<std::string, std::size_t>> counts);

// The sentences of a month.
PeriodReport monthly_report(const stats::MonthlyStats& stats);

// The sentences of a week.
PeriodReport weekly_report(const stats::WeeklyStats& stats);

// The sentences of a day; a day has no efficiency note.
PeriodReport daily_report(const stats::DailyStats& stats);

// Copies the sentences into the pattern, suggestion and efficiency note that a
// month or week keeps in its statistics.
void store_sentences(const PeriodReport& report, stats::ReportSentences& sentences);

}  // namespace summary
