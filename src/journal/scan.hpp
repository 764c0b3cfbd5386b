#pragma once

// The scan of a workspace's journal tree: every record file of root/YYYY/MM,
// parsed with its inventory fields, and the goal and topic lists a run infers
// from the records.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"
#include "journal/files.hpp"

namespace journal {

// Adds the goal of the first non-empty "分类：" line (unless the entry already has
// one) and the second path segment of every "相对路径：" line to `entry`.
void add_inventory_fields(JournalEntry& entry, std::string_view file_text);

// The dates whose records the scan could not use: what the workspace already
// knows of those records must not be lost over a file that cannot be read
// for one run.
struct SkippedDates {
  // A record file skipped with its date ("YYYY-MM-DD").
  std::set<std::string, std::less<>> dates;
  // A month directory ("YYYY-MM") or a year directory ("YYYY") that could not
  // be listed.
  std::set<std::string, std::less<>> months;
  std::set<std::string, std::less<>> years;

  // True when a record dated `date` may be among those skipped.
  bool covers(std::string_view date) const;
  bool empty() const { return dates.empty() && months.empty() && years.empty(); }
};

struct Scan {
  // Records ordered by date, then time (bytes), stable in discovery order,
  // each body cut to its snippet (keep_snippet_only).
  std::vector<JournalEntry> records;
  // Where the scan found them, for the day listings.
  ScannedMonths months;
  SkippedDates skipped;
};

// Walks root/YYYY/MM/*.md (listings sorted by name) and parses every record,
// reading files on all cores; the records, the warnings and their order are
// those of reading one file after the other. A record file is skipped with a
// warning on `err` when its name holds a control character or does not begin
// with a calendar date, when it is not a regular file, is larger than
// files::kMaxRecordBytes, cannot be read or is not UTF-8; so is a year or
// month directory that cannot be listed. Files without a time heading, and
// names shorter than 10 bytes, are skipped silently. Records named like a sync
// client's conflict copy are read as any other and named in one warning after
// all the others. Fails when the root cannot be listed, with "内存不足"
// when memory runs out, or with an empty text when a signal was noted.
std::expected<Scan, std::string> scan_journal(const std::filesystem::path& root, std::ostream& err,
                                              const files::FileSystem& fs);

// What a run infers from the sorted records.
struct Inference {
  // Distinct goal texts and topic texts of the records, ascending by bytes.
  std::vector<std::string> goals;
  std::vector<std::string> topics;
  std::size_t with_goal = 0;
  std::size_t with_topic = 0;
};

Inference infer(const std::vector<JournalEntry>& records);

}  // namespace journal
