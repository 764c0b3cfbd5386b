#pragma once

// Where the derived state of a workspace lives. The root is used as given.

#include <string>
#include <string_view>

namespace store {

// The layout relative to the root, as the file layer takes it.
inline constexpr std::string_view kSystemDir = ".system";
inline constexpr std::string_view kGoalsDir = ".system/goals";
inline constexpr std::string_view kTopicsDir = ".system/topics";
inline constexpr std::string_view kStatsDir = ".system/stats";
inline constexpr std::string_view kSnapshotsDir = ".system/stats/snapshots";
inline constexpr std::string_view kGraphFile = ".system/graph.json";
inline constexpr std::string_view kRecordTopicsFile = ".system/record_topics.json";
inline constexpr std::string_view kMetricsFile = ".system/metrics.json";
inline constexpr std::string_view kSummaryDir = "summary";

// True when a goal or topic name must not become a file path: `name` + ".md"
// would be absolute or climb out through a ".." segment, would replace the
// directory's "_index.md", holds a control character (a NUL would cut the
// path short, a line break would forge lines wherever the name is listed), or
// has a segment the file system cannot name (longer than 255 bytes with the
// temporary file's ".md.tmp").
bool is_unsafe_name(std::string_view name);

// The warning for an unsafe name, its control characters escaped.
std::string unsafe_name_warning(std::string_view name);

}  // namespace store
