#include "stats/daily.hpp"

#include <unordered_set>

#include <fmt/format.h>

#include "json/write.hpp"

namespace stats {
namespace {

// Appends `value` unless it was seen before; the set keeps large days linear.
void append_unique(std::vector<std::string>& list, std::unordered_set<std::string>& seen,
                   const std::string& value) {
  if (seen.insert(value).second) list.push_back(value);
}

DayMoment moment(const journal::JournalEntry& entry, std::string reason) {
  return {entry.time.str(), journal::display_title(entry), std::move(reason)};
}

// Greatest initiative + affect, the later entry winning ties; only an entry
// with full initiative counts as a highlight.
std::optional<DayMoment> find_highlight(const std::vector<journal::JournalEntry>& entries) {
  const journal::JournalEntry* best = nullptr;
  for (const auto& entry : entries) {
    if (!best || entry.initiative + entry.affect >= best->initiative + best->affect) best = &entry;
  }
  if (!best || best->initiative < 3) return std::nullopt;
  return moment(*best, fmt::format("initiative={}, affect={}", best->initiative, best->affect));
}

// Smallest focus + persistence, the earlier entry winning ties; an entry with
// both at 2 or more is no breakpoint.
std::optional<DayMoment> find_breakpoint(const std::vector<journal::JournalEntry>& entries) {
  const journal::JournalEntry* worst = nullptr;
  for (const auto& entry : entries) {
    if (!worst || entry.focus + entry.persistence < worst->focus + worst->persistence) {
      worst = &entry;
    }
  }
  if (!worst || (worst->focus >= 2 && worst->persistence >= 2)) return std::nullopt;
  return moment(*worst, fmt::format("focus={}, persistence={}", worst->focus, worst->persistence));
}

void write_moment(json::JsonWriter& writer, std::string_view name,
                  const std::optional<DayMoment>& moment) {
  writer.key(name);
  if (!moment) {
    writer.null();
    return;
  }
  writer.begin_object()
      .member("time", moment->time)
      .member("text", moment->text)
      .member("reason", moment->reason)
      .end_object();
}

}  // namespace

DailyStats daily_stats_from_entries(std::string_view date,
                                    const std::vector<journal::JournalEntry>& entries) {
  DailyStats stats;
  stats.date = std::string(date);
  stats.count = entries.size();
  EntryRefs refs;
  std::unordered_set<std::string> goals_seen, topics_seen;
  for (const auto& entry : entries) {
    refs.push_back(&entry);
    stats.entries.push_back({entry.time.str(), entry.file_name, journal::display_title(entry),
                             entry.ratings(), entry.goal, entry.topics});
    if (entry.goal) append_unique(stats.goals_touched, goals_seen, *entry.goal);
    for (const auto& topic : entry.topics) append_unique(stats.topics_touched, topics_seen, topic);
  }
  stats.daily_avg = nonzero_means(refs);
  stats.highlight = find_highlight(entries);
  stats.breakpoint = find_breakpoint(entries);
  return stats;
}

std::expected<DailyStats, std::string> build_daily_stats(journal::DayListingCache& days,
                                                         std::string_view date) {
  const auto& entries = days.day_entries(date);
  if (!entries) return std::unexpected(entries.error());
  return daily_stats_from_entries(date, *entries);
}

std::string daily_stats_json(const DailyStats& stats) {
  json::JsonWriter writer(json::JsonStyle::Compact);
  writer.begin_object().member("date", stats.date).member_uint("count", stats.count);
  writer.key("entries").begin_array();
  for (const auto& entry : stats.entries) {
    writer.begin_object()
        .member("time", entry.time)
        .member("filename", entry.filename)
        .member("title", entry.title);
    writer.key("ratings").begin_object();
    for (std::size_t kind = 0; kind < entry.ratings.size(); ++kind) {
      writer.member_uint(journal::kRatingNames[kind], entry.ratings[kind]);
    }
    writer.end_object().key("goal");
    if (entry.goal) {
      writer.string(*entry.goal);
    } else {
      writer.null();
    }
    writer.member_strings("topics", entry.topics).end_object();
  }
  writer.end_array().key("dailyAvg").begin_object();
  for (std::size_t kind = 0; kind < stats.daily_avg.size(); ++kind) {
    writer.member_float(journal::kRatingNames[kind], stats.daily_avg[kind]);
  }
  writer.end_object()
      .member_strings("goalsTouched", stats.goals_touched)
      .member_strings("topicsTouched", stats.topics_touched);
  write_moment(writer, "highlight", stats.highlight);
  write_moment(writer, "breakpoint", stats.breakpoint);
  writer.end_object();
  return writer.take();
}

}  // namespace stats
