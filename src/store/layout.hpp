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

}  // namespace store
