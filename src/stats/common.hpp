#pragma once

// Pieces shared by the daily, weekly and monthly statistics.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"
#include "journal/files.hpp"

namespace json {
class JsonWriter;
}

namespace stats {

// Entries of a period, pointing into the day listings they were loaded from.
using EntryRefs = std::vector<const journal::JournalEntry*>;

// Positions of the rating kinds in the fixed order.
inline constexpr std::size_t kInitiative = 0;
inline constexpr std::size_t kFocus = 1;
inline constexpr std::size_t kPersistence = 2;
inline constexpr std::size_t kAffect = 3;

// One 32-bit value per rating kind, in the fixed rating order.
using RatingMeans = std::array<float, journal::kRatingCount>;

// Per rating kind, the 32-bit mean of the non-zero ratings; 0.0 when none is set.
RatingMeans nonzero_means(const EntryRefs& entries);

// The same mean for the one rating kind `kind`.
float nonzero_mean(const EntryRefs& entries, std::size_t kind);

// The entries of every date from `first` to `last` (compared as texts), day by
// day; days whose listing fails contribute nothing.
EntryRefs load_range(journal::DayListingCache& days, std::string_view first, std::string_view last);

// `entries` stably sorted by date, then time.
EntryRefs sorted_by_date_and_time(EntryRefs entries);

// "date title" per entry, without repeated lines, at most `limit` lines.
std::vector<std::string> record_titles(const EntryRefs& sorted, std::size_t limit);

// Topic → number of entries carrying it, in order of first appearance.
std::vector<std::pair<std::string, std::size_t>> count_topics(const EntryRefs& entries);

// The report sentences a week or a month keeps in its statistics, filled in by
// the report writer.
struct ReportSentences {
  std::string pattern;
  std::string suggestion;
  std::string efficiency_note;
};

// Writes the members that end both a week's and a month's JSON object: the
// sentences as "pattern", "suggestion" and "efficiencyNote", then "recordTitles".
void write_sentences_and_titles(json::JsonWriter& writer, const ReportSentences& sentences,
                                const std::vector<std::string>& record_titles);

}  // namespace stats
