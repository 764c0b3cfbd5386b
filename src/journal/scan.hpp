#pragma once

// The scan of a workspace's journal tree: every record file of root/YYYY/MM,
// parsed with its inventory fields, and the goal and topic lists a run infers
// from the records.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"
#include "journal/files.hpp"

namespace journal {

// Adds the goal of the first non-empty "分类：" line (unless the entry already has
// one) and the second path segment of every "相对路径：" line to `entry`.
void add_inventory_fields(JournalEntry& entry, std::string_view file_text);

struct Scan {
  // Records ordered by date, then time (bytes), stable in discovery order.
  std::vector<JournalEntry> records;
  // Where the scan found them, for the day listings.
  ScannedMonths months;
};

// Walks root/YYYY/MM/*.md (listings sorted by name) and parses every record,
// reading files on all cores; the records, the warnings and their order are
// those of reading one file after the other. Unreadable record files and
// unlistable year or month directories are reported on `err` and skipped;
// files without a time heading are skipped silently. Fails only when the root
// cannot be listed, or with an empty text when a signal was noted.
std::expected<Scan, std::string> scan_journal(const std::filesystem::path& root,
                                              std::ostream& err,
                                              const store::FileSystem& fs = store::disk());

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
