#include "stats/monthly.hpp"

#include <algorithm>
#include <unordered_set>

#include <fmt/format.h>

#include "json/write.hpp"
#include "stats/dates.hpp"
#include "stats/snapshot.hpp"
#include "util/text.hpp"

namespace stats {
namespace {

// The day of month written at bytes 8 and 9 of a date; 0 when there is none.
int day_of_month(std::string_view date) {
  if (date.size() < 10) return 0;
  const auto day = date.substr(8, 2);
  return text::all_ascii_digits(day) ? text::ascii_digits_value(day) : 0;
}

std::vector<std::string> record_snippets(const EntryRefs& sorted) {
  std::vector<std::string> lines;
  std::unordered_set<std::string> seen;
  for (const auto* entry : sorted) {
    std::string line = entry->date + " " + body_snippet(entry->body);
    if (seen.insert(line).second) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

std::array<std::pair<int, int>, 3> phase_bounds(int days_in_month) {
  const int first_end = std::max(days_in_month / 3, 1);
  const int second_end = std::max(2 * (days_in_month / 3), first_end + 1);
  return {{{1, first_end}, {first_end + 1, second_end}, {second_end + 1, days_in_month}}};
}

std::string phase_trait(std::size_t phase_entries, std::size_t total_entries) {
  if (phase_entries == 0) return "无记录";
  const float share = static_cast<float>(phase_entries) /
                      static_cast<float>(std::max<std::size_t>(total_entries, 1));
  if (share >= 0.4f) return "推进期";
  if (share >= 0.2f) return "启动期";
  return "收尾期";
}

std::string body_snippet(std::string_view body) {
  std::string joined;
  for (const auto word : text::split_white_space(body)) {
    if (!joined.empty()) joined.push_back(' ');
    joined.append(word);
  }
  return std::string(text::first_chars(joined, kSnippetChars));
}

std::expected<MonthlyStats, std::string> build_monthly_stats(journal::DayListingCache& days,
                                                             SnapshotIndex& snapshots,
                                                             std::string_view month) {
  const auto key = parse_month(month);
  if (!key) return std::unexpected("非法月份: " + std::string(month));
  const int days_in_month = static_cast<int>(last_day_of_month(key->year, key->month).value_or(30));

  MonthlyStats stats;
  stats.period = std::string(month);
  EntryRefs entries;
  for (int day = 1; day <= days_in_month; ++day) {
    const auto& listed =
        days.day_entries(fmt::format("{:04}-{:02}-{:02}", key->year, key->month, day));
    if (!listed || listed->empty()) continue;
    ++stats.days_recorded;  // each listed day holds only its own date
    for (const auto& entry : *listed) entries.push_back(&entry);
  }
  stats.total_entries = entries.size();
  stats.avg_ratings = nonzero_means(entries);

  const auto bounds = phase_bounds(days_in_month);
  for (std::size_t phase = 0; phase < bounds.size(); ++phase) {
    const auto [first, last] = bounds[phase];
    EntryRefs members;
    for (const auto* entry : entries) {
      const int day = day_of_month(entry->date);
      if (day >= first && day <= last) members.push_back(entry);
    }
    stats.phases[phase] = {fmt::format("{}.{}-{}.{}", key->month, first, key->month, last),
                           phase_trait(members.size(), stats.total_entries),
                           nonzero_mean(members, kFocus), nonzero_mean(members, kAffect)};
  }

  stats.goal_evolution =
      snapshots.movement(fmt::format("{:04}-{:02}-01", key->year, key->month),
                         fmt::format("{:04}-{:02}-{:02}", key->year, key->month, days_in_month));
  const EntryRefs sorted = sorted_by_date_and_time(entries);
  stats.record_titles = record_titles(sorted, kMonthlyTitleLimit);
  stats.record_snippets = record_snippets(sorted);
  stats.topic_counts = count_topics(entries);
  return stats;
}

std::string monthly_stats_json(const MonthlyStats& stats) {
  json::JsonWriter writer(json::JsonStyle::Compact);
  writer.begin_object()
      .member("period", stats.period)
      .member_uint("daysRecorded", stats.days_recorded)
      .member_uint("totalEntries", stats.total_entries);
  writer.key("avgRatings").begin_object();
  for (std::size_t kind = 0; kind < stats.avg_ratings.size(); ++kind) {
    writer.member_float(journal::kRatingNames[kind], stats.avg_ratings[kind]);
  }
  writer.end_object().key("phases").begin_array();
  for (const auto& phase : stats.phases) {
    writer.begin_object()
        .member("range", phase.range)
        .member("trait", phase.trait)
        .member_float("avgFocus", phase.avg_focus)
        .member_float("avgAffect", phase.avg_affect)
        .end_object();
  }
  writer.end_array().key("goalEvolution").begin_array();
  for (const auto& change : stats.goal_evolution) {
    writer.begin_object()
        .member("goal", change.goal)
        .member_uint("from", change.from)
        .member_uint("to", change.to)
        .end_object();
  }
  writer.end_array();
  write_sentences_and_titles(writer, stats.sentences, stats.record_titles);
  writer.member_strings("recordSnippets", stats.record_snippets).end_object();
  return writer.take();
}

}  // namespace stats
