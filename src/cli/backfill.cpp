#include "cli/backfill.hpp"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "cli/golden.hpp"
#include "cli/scan.hpp"
#include "journal/periods.hpp"
#include "store/layout.hpp"
#include "store/metrics.hpp"

namespace cli {
namespace {

using Outcome = std::expected<void, RunFailure>;

RunFailure failed(std::string text) { return {RunFailure::Kind::Failed, std::move(text)}; }

void print_plan(const ScanResult& scan, std::ostream& out) {
  const auto months = journal::month_list(scan.records);
  const auto days = journal::day_list(scan.records);
  const std::size_t n = scan.records.size();
  const std::size_t g = scan.goals.size();
  const std::string first = months.empty() ? "" : months.front();
  const std::string last = months.empty() ? "" : months.back();
  fmt::print(out, "\n[DRY-RUN] 将生成:\n");
  fmt::print(out, "  - .system/goals/<分类>.md × {} + _index.md\n", g);
  fmt::print(out, "  - .system/topics/*.md (经 30 字符归一化后可能更少) + _index.md\n");
  fmt::print(out, "  - .system/graph.json: ~{} record + {} goal + N topic 节点\n", n, g);
  fmt::print(out, "  - summary/monthly/*.md × {} ({}~{})\n", months.size(), first, last);
  fmt::print(out, "  - summary/weekly/*.md × ~{} (2026-07 ISO 周)\n", journal::kWeekStarts.size());
  fmt::print(out, "  - summary/daily/*.md × {} (2026-07 有记录日)\n", days.size());
  fmt::print(out, "  - .system/stats/snapshots/<月末>.json × {}\n", months.size());
  fmt::print(out, "  - .system/metrics.json: records={}\n", n);
}

Outcome write_metrics(const std::filesystem::path& root, std::size_t n, std::ostream& out) {
  auto metrics = store::load_metrics(root);
  metrics.records = n;
  if (auto saved = store::save_metrics(root, metrics); !saved) {
    return std::unexpected(failed(saved.error()));
  }
  fmt::print(out, "  ✓ metrics.json: records={}\n", n);
  return {};
}

}  // namespace

std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err) {
  const auto& root = options.root;
  fmt::print(out, "▶ 工作区: {}{}\n", root.string(), options.dry_run ? "  [DRY-RUN]" : "");
  if (auto dirs = store::ensure_system_dirs(root); !dirs) {
    return std::unexpected(failed(dirs.error()));
  }
  auto records = scan_records(root, err);
  if (!records) return std::unexpected(failed(records.error()));
  const std::size_t n = records->size();
  fmt::print(out, "  · 扫描到 {} 条记录\n", n);
  if (n == 0) return std::unexpected(failed("工作区无记录可补全"));

  const ScanResult scan = infer(std::move(*records));
  fmt::print(out, "  · 推断: 目标 {} 个（{}/{} 记录有目标）, 主题 {} 个候选（{}/{} 记录有主题）\n",
             scan.goals.size(), scan.with_goal, n, scan.topics.size(), scan.with_topic, n);
  if (options.dry_run) {
    print_plan(scan, out);
    return {};
  }

  if (auto done = write_metrics(root, n, out); !done) return done;

  fmt::print(out, "\n✅ 补全完成。\n");
  return {};
}

}  // namespace cli
