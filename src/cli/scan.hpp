#pragma once

// The scan of a workspace's journal tree and what a run infers from it.

#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "journal/entry.hpp"

namespace cli {

struct ScanResult {
  // Records ordered by date, then time (bytes), stable in discovery order.
  std::vector<journal::JournalEntry> records;
  // Distinct goal texts and topic texts of the records, ascending by bytes.
  std::vector<std::string> goals;
  std::vector<std::string> topics;
  std::size_t with_goal = 0;
  std::size_t with_topic = 0;
};

// Adds the goal of the first non-empty "分类：" line (unless the entry already has
// one) and the second path segment of every "相对路径：" line to `entry`.
void add_inventory_fields(journal::JournalEntry& entry, std::string_view file_text);

// Walks root/YYYY/MM/*.md (listings sorted by name), parses every record and
// sorts them. Unreadable record files are reported on `err` and skipped; files
// without a time heading are skipped silently. Fails only when the root cannot
// be listed.
std::expected<std::vector<journal::JournalEntry>, std::string> scan_records(
    const std::filesystem::path& root, std::ostream& err);

// Goal and topic lists and counts of the sorted records.
ScanResult infer(std::vector<journal::JournalEntry> records);

}  // namespace cli
