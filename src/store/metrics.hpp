#pragma once

// .system/metrics.json: the note application's usage counters. The backfill
// owns only the record count and carries the other three over unchanged.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "files/output_file.hpp"
#include "store/workspace.hpp"

namespace store {

struct Metrics {
  std::uint64_t records = 0;
  std::uint64_t organize_calls = 0;
  std::uint64_t organize_adopted = 0;
  std::uint64_t graph_edits = 0;
  bool operator==(const Metrics&) const = default;
};

// The counters held in the text of a metrics.json file; nothing when the text
// is not such a file.
std::optional<Metrics> parse_metrics(std::string_view text);

// Reads metrics.json; any problem (missing, not UTF-8, not a strict object of
// unsigned integers, a repeated counter) gives all counters 0.
Metrics load_metrics(Workspace& workspace);

// The pretty JSON text of `metrics`.
std::string metrics_to_json(const Metrics& metrics);

// metrics.json holding `metrics`; fails with "写入 metrics 失败: " and the
// store error.
files::OutputFile metrics_file(const Metrics& metrics);

}  // namespace store
