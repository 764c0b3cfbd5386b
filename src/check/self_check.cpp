#include "check/self_check.hpp"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "graph/model.hpp"
#include "journal/files.hpp"
#include "json/write.hpp"
#include "store/layout.hpp"

namespace check {
namespace {

Failure hard_stop(std::string text) { return {Failure::Kind::Inconsistent, std::move(text)}; }

// The message followed by the two values it compared.
std::string with_compared_values(std::string_view message, std::string_view left,
                                 std::string_view right) {
  return fmt::format("{}\n  left: {}\n right: {}", message, left, right);
}

// `s` in double quotes, escaped as in every JSON file, so that a text holding a
// quote or a line break still reads unambiguously in the message.
std::string debug_quoted(std::string_view s) {
  std::string out;
  json::append_json_string(out, s);
  return out;
}

// How many distinct date+time keys the records have. The scan leaves them
// sorted by key, when they are counted in one pass; a set of a hundred
// thousand keys would stand at the run's peak.
std::size_t distinct_keys(const std::vector<journal::JournalEntry>& records) {
  using Key = std::pair<std::string_view, std::string_view>;
  const auto key = [](const journal::JournalEntry& record) {
    return Key(record.date.view(), record.time.view());
  };
  if (!std::ranges::is_sorted(records, {}, key)) {
    std::vector<Key> keys;
    keys.reserve(records.size());
    for (const auto& record : records) keys.push_back(key(record));
    std::ranges::sort(keys);
    return static_cast<std::size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
  }
  std::size_t distinct = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (i == 0 || key(records[i]) != key(records[i - 1])) ++distinct;
  }
  return distinct;
}

}  // namespace

std::expected<void, Failure> self_check(store::Workspace& workspace,
                                        const std::vector<journal::JournalEntry>& records,
                                        const graph::Graph& saved, std::size_t carried,
                                        std::ostream& out) {
  const auto& first = records.front();
  const auto reloaded =
      journal::reload_entry(workspace.root(), first.file_name, workspace.file_system());
  if (!reloaded) return std::unexpected(Failure{Failure::Kind::ReloadFailed, reloaded.error()});
  if (reloaded->date != first.date) {
    return std::unexpected(hard_stop(with_compared_values(
        "round-trip date mismatch", debug_quoted(reloaded->date), debug_quoted(first.date))));
  }
  if (reloaded->time != first.time) {
    return std::unexpected(hard_stop(with_compared_values(
        "round-trip time mismatch", debug_quoted(reloaded->time), debug_quoted(first.time))));
  }
  // The parser reads a goal only from a rating line; an inventory record must
  // not have gained one.
  if (reloaded->goal) {
    return std::unexpected(hard_stop("原始记录不应被写入目标行，但读回了 goal=Some(" +
                                     debug_quoted(*reloaded->goal) + ")"));
  }

  // The check is of the graph as the run staged it: nothing is committed
  // before the check has passed.
  const graph::Graph& graph = saved;
  const graph::NodeIds ids(graph);
  const std::size_t record_nodes = graph::count_graph(graph).records;
  std::vector<std::string> dangling;
  for (const auto& edge : graph.edges) {
    if (!ids.contains(edge.from) || !ids.contains(edge.to))
      dangling.push_back(debug_quoted(edge.id()));
  }
  if (!dangling.empty()) {
    return std::unexpected(
        hard_stop(fmt::format("图谱存在悬空边: [{}]", fmt::join(dangling, ", "))));
  }

  const std::size_t n = records.size();
  const std::size_t k = distinct_keys(records);
  // The nodes kept for skipped records stand beside those of the keys.
  const std::size_t expected = k + carried;
  if (record_nodes != expected) {
    return std::unexpected(hard_stop(with_compared_values(
        fmt::format("record 节点数 {} ≠ 去重 date+time 键数 {} ({} 条记录中 {} 条因时间戳碰撞合并)",
                    record_nodes, expected, n, n - k),
        std::to_string(record_nodes), std::to_string(expected))));
  }
  fmt::print(
      out,
      "  ✓ 自检通过: 图谱无悬空边, record 节点 {} = 去重 date+time 键 ({} 条记录, {} 条因同分钟 "
      "mtime 合并)\n",
      record_nodes, n, n - k);
  return {};
}

}  // namespace check
