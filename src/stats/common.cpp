#include "stats/common.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "json/write.hpp"
#include "stats/dates.hpp"

namespace stats {

float nonzero_mean(const EntryRefs& entries, std::size_t kind) {
  float sum = 0.0f;
  std::size_t count = 0;
  for (const auto* entry : entries) {
    const auto value = entry->ratings()[kind];
    if (value == 0) continue;
    sum += static_cast<float>(value);
    ++count;
  }
  return count == 0 ? 0.0f : sum / static_cast<float>(count);
}

RatingMeans nonzero_means(const EntryRefs& entries) {
  RatingMeans means{};
  for (std::size_t kind = 0; kind < means.size(); ++kind) means[kind] = nonzero_mean(entries, kind);
  return means;
}

EntryRefs load_range(journal::DayListingCache& days, std::string_view first,
                     std::string_view last) {
  EntryRefs entries;
  std::string current(first);
  while (current <= last) {
    if (const auto& listed = days.day_entries(current)) {
      for (const auto& entry : *listed) entries.push_back(&entry);
    }
    const auto date = parse_date(current);
    if (!date) break;
    current = format_date(add_days(*date, 1));
    if (current.size() != 10) break;
  }
  return entries;
}

EntryRefs sorted_by_date_and_time(EntryRefs entries) {
  std::ranges::stable_sort(entries,
                           [](const journal::JournalEntry* a, const journal::JournalEntry* b) {
                             if (a->date != b->date) return a->date < b->date;
                             return a->time < b->time;
                           });
  return entries;
}

std::vector<std::string> record_titles(const EntryRefs& sorted, std::size_t limit) {
  std::vector<std::string> lines;
  std::unordered_set<std::string> seen;
  for (const auto* entry : sorted) {
    if (lines.size() >= limit) break;
    std::string line = entry->date + " " + journal::display_title(*entry);
    if (seen.insert(line).second) lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::pair<std::string, std::size_t>> count_topics(const EntryRefs& entries) {
  std::vector<std::pair<std::string, std::size_t>> counts;
  std::unordered_map<std::string, std::size_t> index;
  for (const auto* entry : entries) {
    for (const auto& topic : entry->topics) {
      const auto [it, inserted] = index.try_emplace(topic, counts.size());
      if (inserted) counts.emplace_back(topic, 0);
      ++counts[it->second].second;
    }
  }
  return counts;
}

void write_sentences_and_titles(json::JsonWriter& writer, const ReportSentences& sentences,
                                const std::vector<std::string>& record_titles) {
  writer.member("pattern", sentences.pattern)
      .member("suggestion", sentences.suggestion)
      .member("efficiencyNote", sentences.efficiency_note)
      .member_strings("recordTitles", record_titles);
}

}  // namespace stats
