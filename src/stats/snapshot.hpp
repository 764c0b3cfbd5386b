#pragma once

// Month-end snapshots: one file per date under .system/stats/snapshots holding a
// state value per goal, read back to see how goals moved between two dates.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "files/output_file.hpp"
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

// How one goal's state moved between two snapshots.
struct GoalChange {
  std::string goal;
  std::uint8_t from = 0;
  std::uint8_t to = 0;
};

// The snapshots a run looks up: those it wrote, and those earlier runs left in
// the directory, each read once when first asked for. Every answer is what
// reading the files would give.
class SnapshotIndex {
 public:
  // Lists the snapshots directory below `tree`, which must outlive the index.
  explicit SnapshotIndex(const files::Tree& tree);

  // Records a snapshot the run has just written.
  void add(const Snapshot& written);

  // The first snapshot found at `date` or on one of the 60 days before it; a
  // file that cannot be read or parsed holds none.
  std::optional<Snapshot> find_at_or_before(std::string_view date);

  // Every goal of the snapshot found for `first` that the one found for `last`
  // also holds, in goal order, with its two states; empty unless both exist.
  std::vector<GoalChange> movement(std::string_view first, std::string_view last);

 private:
  const files::Tree* tree_;
  // Names of the files in the directory when the index was made.
  std::set<std::string, std::less<>> names_;
  std::map<std::string, std::optional<Snapshot>, std::less<>> known_;
};

// The month-end snapshots of a run, and the index that answers with them and
// with those earlier runs left.
struct SnapshotStage {
  SnapshotIndex index;
  files::OutputFiles files;
};

// For every month of the records, a snapshot dated the month's last day with
// every goal at 0. Fails with "非法月份: " and the month text when a month does
// not parse.
std::expected<SnapshotStage, std::string> month_end_snapshots(
    const store::Workspace& workspace, const std::vector<journal::JournalEntry>& records,
    const std::vector<std::string>& goal_names);

}  // namespace stats
