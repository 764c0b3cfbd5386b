#include "stats/weekly.hpp"

#include "json/write.hpp"
#include "stats/dates.hpp"
#include "stats/snapshot.hpp"

namespace stats {
namespace {

std::size_t distinct_dates(const EntryRefs& entries) {
  // Range loads keep each day's entries together.
  std::size_t days = 0;
  const text::ShortText<15>* previous = nullptr;
  for (const auto* entry : entries) {
    if (!previous || *previous != entry->date) ++days;
    previous = &entry->date;
  }
  return days;
}

}  // namespace

std::string trend_of(float this_week, float last_week) {
  const float difference = this_week - last_week;
  if (difference > 0.15f) return "up";
  if (difference < -0.15f) return "down";
  return "flat";
}

std::expected<WeeklyStats, std::string> build_weekly_stats(journal::DayListingCache& days,
                                                           SnapshotIndex& snapshots,
                                                           std::string_view start) {
  const auto first = parse_date(start);
  if (!first) return std::unexpected("非法日期: " + std::string(start));
  WeeklyStats stats;
  stats.period = iso_week_key(*first);
  stats.start = format_date(*first);
  stats.end = format_date(add_days(*first, 6));

  const EntryRefs this_week = load_range(days, stats.start, stats.end);
  const EntryRefs last_week =
      load_range(days, format_date(add_days(*first, -7)), format_date(add_days(*first, -1)));
  stats.days_recorded = distinct_dates(this_week);
  stats.total_entries = this_week.size();
  const auto this_means = nonzero_means(this_week);
  const auto last_means = nonzero_means(last_week);
  for (std::size_t kind = 0; kind < stats.daily_avgs.size(); ++kind) {
    stats.daily_avgs[kind] = {this_means[kind], last_means[kind],
                              trend_of(this_means[kind], last_means[kind])};
  }
  stats.topic_counts = count_topics(this_week);

  for (const auto& change : snapshots.movement(stats.start, stats.end)) {
    stats.goal_progress[change.goal] = {change.from, change.to};
  }
  stats.record_titles = record_titles(sorted_by_date_and_time(this_week), kWeeklyTitleLimit);
  return stats;
}

std::string weekly_stats_json(const WeeklyStats& stats) {
  json::JsonWriter writer(json::JsonStyle::Compact);
  writer.begin_object()
      .member("period", stats.period)
      .member("start", stats.start)
      .member("end", stats.end)
      .member_uint("daysRecorded", stats.days_recorded)
      .member_uint("totalEntries", stats.total_entries);
  writer.key("dailyAvgs").begin_object();
  for (std::size_t kind = 0; kind < stats.daily_avgs.size(); ++kind) {
    const auto& value = stats.daily_avgs[kind];
    writer.key(journal::kRatingNames[kind])
        .begin_object()
        .member_float("this", value.this_week)
        .member_float("last", value.last_week)
        .member("trend", value.trend)
        .end_object();
  }
  writer.end_object().key("topicCounts").begin_object();
  for (const auto& [topic, count] : stats.topic_counts) writer.member_uint(topic, count);
  writer.end_object().key("goalProgress").begin_object();
  for (const auto& [goal, move] : stats.goal_progress) {
    writer.key(goal)
        .begin_object()
        .member_uint("from", move.from)
        .member_uint("to", move.to)
        .end_object();
  }
  writer.end_object();
  write_sentences_and_titles(writer, stats.sentences, stats.record_titles);
  writer.end_object();
  return writer.take();
}

}  // namespace stats
