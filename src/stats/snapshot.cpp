#include "stats/snapshot.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "files/path_text.hpp"
#include "files/tree.hpp"
#include "journal/months.hpp"
#include "json/write.hpp"
#include "stats/dates.hpp"
#include "store/layout.hpp"

namespace stats {
namespace {

using nlohmann::json;

std::optional<std::map<std::string, std::uint8_t>> goals_from(const json& value) {
  if (!value.is_object()) return std::nullopt;
  std::map<std::string, std::uint8_t> goals;
  for (const auto& [name, state] : value.items()) {
    if (!state.is_number_unsigned() || state.get<std::uint64_t>() > 255) return std::nullopt;
    goals[name] = static_cast<std::uint8_t>(state.get<std::uint64_t>());
  }
  return goals;
}

std::optional<Snapshot> snapshot_from(const json& date, const json& goals) {
  if (!date.is_string()) return std::nullopt;
  auto goal_map = goals_from(goals);
  if (!goal_map) return std::nullopt;
  return Snapshot{date.get<std::string>(), std::move(*goal_map)};
}

std::string previous_day(std::string_view date) {
  using namespace std::chrono;
  const auto parsed = parse_date(date).value_or(year_month_day{year{1970}, January, day{1}});
  return format_date(add_days(parsed, -1));
}

}  // namespace

std::optional<Snapshot> parse_snapshot(std::string_view text) {
  // The parser keeps only the last of repeated keys; a repeated "date" or
  // "goals" must make the file invalid, so they are counted while parsing.
  bool repeated = false;
  int dates = 0, goal_maps = 0;
  const auto count_keys = [&](int depth, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::key && depth == 1 && parsed.is_string()) {
      const auto& name = parsed.get_ref<const std::string&>();
      if (name == "date") repeated |= ++dates > 1;
      if (name == "goals") repeated |= ++goal_maps > 1;
    }
    return true;
  };
  const json value = json::parse(text, count_keys, false);
  if (value.is_discarded() || repeated) return std::nullopt;
  if (value.is_object()) {
    if (!value.contains("date") || !value.contains("goals")) return std::nullopt;
    return snapshot_from(value.at("date"), value.at("goals"));
  }
  if (value.is_array() && value.size() == 2) return snapshot_from(value.at(0), value.at(1));
  return std::nullopt;
}

std::filesystem::path snapshot_path(std::string_view date) {
  return std::filesystem::path(store::kSnapshotsDir) /
         files::utf8_path(std::string(date) + ".json");
}

std::string snapshot_json(const Snapshot& snapshot) {
  ::json::JsonWriter writer(::json::JsonStyle::Pretty);
  writer.begin_object().member("date", snapshot.date).key("goals").begin_object();
  for (const auto& [goal, state] : snapshot.goals) writer.member_uint(goal, state);
  writer.end_object().end_object();
  return writer.take();
}

SnapshotIndex::SnapshotIndex(const files::Tree& tree) : tree_(&tree) {
  if (const auto listing = tree.list(store::kSnapshotsDir)) {
    for (const auto& entry : *listing) names_.insert(entry.name);
  }
}

void SnapshotIndex::add(const Snapshot& written) { known_.insert_or_assign(written.date, written); }

std::optional<Snapshot> SnapshotIndex::find_at_or_before(std::string_view date) {
  std::string current(date);
  for (int step = 0;; ++step) {
    auto known = known_.find(current);
    if (known == known_.end() && names_.contains(current + ".json")) {
      std::optional<Snapshot> read;
      if (const auto text = files::read_text(*tree_, snapshot_path(current))) {
        read = parse_snapshot(*text);
      }
      known = known_.emplace(current, std::move(read)).first;
    }
    if (known != known_.end() && known->second) return known->second;
    if (step == kSnapshotLookBackDays) return std::nullopt;
    current = previous_day(current);
  }
}

std::vector<GoalChange> SnapshotIndex::movement(std::string_view first, std::string_view last) {
  const auto at_first = find_at_or_before(first);
  const auto at_last = find_at_or_before(last);
  std::vector<GoalChange> changes;
  if (!at_first || !at_last) return changes;
  for (const auto& [goal, from] : at_first->goals) {
    if (const auto to = at_last->goals.find(goal); to != at_last->goals.end()) {
      changes.push_back({goal, from, to->second});
    }
  }
  return changes;
}

std::expected<SnapshotStage, std::string> month_end_snapshots(
    const store::Workspace& workspace, const std::vector<journal::JournalEntry>& records,
    const std::vector<std::string>& goal_names) {
  std::vector<Snapshot> made;
  files::OutputFiles files;
  Snapshot snapshot;
  for (const auto& goal : goal_names) snapshot.goals[goal] = 0;
  for (const auto& month_text : journal::month_list(records)) {
    const auto month = parse_month(month_text);
    if (!month) return std::unexpected("非法月份: " + month_text);
    const unsigned last_day = last_day_of_month(month->year, month->month).value_or(28);
    snapshot.date = fmt::format("{:04}-{:02}-{:02}", month->year, month->month, last_day);
    files.push_back({files::FileClass::Derived,
                     snapshot_path(snapshot.date),
                     snapshot_json(snapshot),
                     "写入快照失败: IO 错误: ",
                     {}});
    made.push_back(snapshot);
  }
  SnapshotStage stage{SnapshotIndex(workspace.files()), std::move(files)};
  for (const auto& each : made) stage.index.add(each);
  return stage;
}

}  // namespace stats
