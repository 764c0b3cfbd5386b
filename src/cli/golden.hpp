#pragma once

// The golden expected set: what the backfill inferred, in a stable sorted form
// that an evaluation harness scores other outputs against.

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "graph/model.hpp"
#include "journal/entry.hpp"
#include "store/tree.hpp"

namespace cli {

// Writes `value` in the pretty form (keys as the value orders them) to
// `relative` below `tree` with a plain write; fails with "序列化 <path> 失败: …"
// or "写入 <path> 失败: …", the path shown from the tree's base.
std::expected<void, std::string> write_json_pretty(const store::Tree& tree,
                                                   const std::filesystem::path& relative,
                                                   const nlohmann::json& value);

// Writes records_expected.json, goals_expected.json, topics_expected.json,
// graph_expected.json and README.md into the "workspace" directory below
// `dir`, which is created when missing.
std::expected<void, std::string> export_golden(const store::Tree& dir,
                                               const std::vector<journal::JournalEntry>& records,
                                               const std::vector<std::string>& goals,
                                               const graph::Graph& graph);

}  // namespace cli
