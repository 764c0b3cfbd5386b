#pragma once

// Month-end snapshots: one file per date under .system/stats/snapshots holding a
// state value per goal, read back to see how goals moved between two dates.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "journal/entry.hpp"
#include "store/workspace.hpp"

namespace stats {

struct Snapshot {
  std::string date;
  // Goal title → state value, in ascending byte order of the title.
  std::map<std::string, std::uint8_t> goals;

  bool operator==(const Snapshot&) const = default;
};

// How many days before a date a snapshot lookup goes back at most.
inline constexpr int kSnapshotLookBackDays = 60;

// .system/stats/snapshots/{date}.json, relative to the root.
std::filesystem::path snapshot_path(std::string_view date);

// The pretty JSON text of a snapshot file.
std::string snapshot_json(const Snapshot& snapshot);

// The snapshot held in the text of a snapshot file, as an object {date, goals}
// or a two-element array [date, goals]; nothing when malformed.
std::optional<Snapshot> parse_snapshot(std::string_view text);

// The snapshot stored for `date`, read as an object {date, goals} or a
// two-element array [date, goals]; nothing when absent, unreadable or malformed.
std::optional<Snapshot> load_snapshot(const std::filesystem::path& root, std::string_view date);

// The first snapshot found at `date` or on one of the 60 days before it.
std::optional<Snapshot> find_snapshot_at_or_before(const std::filesystem::path& root,
                                                   std::string_view date);

// Writes, for every month of the records, a snapshot dated the month's last day
// with every goal at 0. Fails with "非法月份: " and the month text when a month
// does not parse, or "写入快照失败: " and the store's text when a file cannot be
// written; months before the failing one stay written.
std::expected<void, std::string> write_month_end_snapshots(
    const store::Workspace& workspace, const std::vector<journal::JournalEntry>& records,
    const std::vector<std::string>& goal_names);

}  // namespace stats
