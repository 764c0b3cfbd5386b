#include "cli/backfill.hpp"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "check/self_check.hpp"
#include "golden/export.hpp"
#include "goals/goal_store.hpp"
#include "goals/goals_index.hpp"
#include "graph/rebuild.hpp"
#include "graph/record_topics.hpp"
#include "journal/periods.hpp"
#include "journal/scan.hpp"
#include "stats/snapshot.hpp"
#include "store/layout.hpp"
#include "store/metrics.hpp"
#include "summary/periods.hpp"
#include "summary/writer.hpp"
#include "topics/topic_files.hpp"

namespace cli {
namespace {

using Outcome = std::expected<void, RunFailure>;

RunFailure failed(std::string text) { return {RunFailure::Kind::Failed, std::move(text)}; }

void print_plan(const std::vector<journal::JournalEntry>& records,
                const journal::Inference& inferred, std::ostream& out) {
  const auto months = journal::month_list(records);
  const auto days = summary::day_list(records);
  const std::size_t n = records.size();
  const std::size_t g = inferred.goals.size();
  const std::string first = months.empty() ? "" : months.front();
  const std::string last = months.empty() ? "" : months.back();
  fmt::print(out, "\n[DRY-RUN] 将生成:\n");
  fmt::print(out, "  - .system/goals/<分类>.md × {} + _index.md\n", g);
  fmt::print(out, "  - .system/topics/*.md (经 30 字符归一化后可能更少) + _index.md\n");
  fmt::print(out, "  - .system/graph.json: ~{} record + {} goal + N topic 节点\n", n, g);
  fmt::print(out, "  - summary/monthly/*.md × {} ({}~{})\n", months.size(), first, last);
  fmt::print(out, "  - summary/weekly/*.md × ~{} (2026-07 ISO 周)\n", summary::kWeekStarts.size());
  fmt::print(out, "  - summary/daily/*.md × {} (2026-07 有记录日)\n", days.size());
  fmt::print(out, "  - .system/stats/snapshots/<月末>.json × {}\n", months.size());
  fmt::print(out, "  - .system/metrics.json: records={}\n", n);
}

// Wraps a stage's failure text so the run ends with it.
template <typename T>
std::unexpected<RunFailure> stage_failed(const std::expected<T, std::string>& result) {
  return std::unexpected(failed(result.error()));
}

Outcome write_metrics(store::Workspace& workspace, std::size_t n, std::ostream& out,
                      std::ostream& err) {
  auto metrics = store::load_metrics(workspace);
  metrics.records = n;
  if (auto saved = store::save_metrics(workspace, metrics, err); !saved) {
    return std::unexpected(failed(saved.error()));
  }
  fmt::print(out, "  ✓ metrics.json: records={}\n", n);
  return {};
}

}  // namespace

std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err, store::FileHook* hook) {
  store::Workspace workspace(options.root, hook);
  const auto& root = options.root;
  fmt::print(out, "▶ 工作区: {}{}\n", root.string(), options.dry_run ? "  [DRY-RUN]" : "");
  if (auto dirs = workspace.ensure_system_dirs(); !dirs) {
    return std::unexpected(failed(dirs.error()));
  }
  auto journal = journal::scan_journal(root, err);
  if (!journal) return std::unexpected(failed(journal.error()));
  const auto& records_list = journal->records;
  const std::size_t n = records_list.size();
  fmt::print(out, "  · 扫描到 {} 条记录\n", n);
  if (n == 0) return std::unexpected(failed("工作区无记录可补全"));

  const journal::Inference scan = journal::infer(records_list);
  fmt::print(out, "  · 推断: 目标 {} 个（{}/{} 记录有目标）, 主题 {} 个候选（{}/{} 记录有主题）\n",
             scan.goals.size(), scan.with_goal, n, scan.topics.size(), scan.with_topic, n);
  if (options.dry_run) {
    print_plan(records_list, scan, out);
    return {};
  }

  // Goal files, with the goal nodes in graph.json.
  auto goal_stage = goals::write_goal_files(workspace, scan.goals, records_list, err);
  if (!goal_stage) return stage_failed(goal_stage);
  fmt::print(out, "  ✓ goals/ 已生成 ({} 个目标 + _index.md)\n", scan.goals.size());

  // Graph: rebuilt from the records and completed in memory, from the graph
  // the goal stage saved (what a reload would give), then saved once: a save
  // in between could only be seen by a crash, which leaves the old file.
  std::vector<graph::GoalSeed> seeds;
  seeds.reserve(scan.goals.size());
  for (const auto& goal : scan.goals) seeds.push_back({goal, 0});
  graph::Graph previous = goal_stage->graph ? std::move(*goal_stage->graph)
                                            : graph::load_graph(workspace);
  graph::RecordTopics record_topics = graph::load_record_topics(workspace);
  graph::Graph rebuilt =
      graph::rebuild_and_complete(std::move(previous), records_list, seeds, record_topics);
  const auto completed = graph::save_graph(workspace, std::move(rebuilt), err);
  if (!completed) return stage_failed(completed);
  const graph::Graph& saved = *completed;
  const auto counts = graph::count_graph(saved);
  fmt::print(out, "  ✓ graph.json 已重建: {} 节点 ({} record / {} goal / {} topic), {} 边\n",
             counts.nodes, counts.records, counts.goals, counts.topics, counts.edges);

  if (auto done = topics::write_topics_index(workspace, saved); !done) return stage_failed(done);
  if (auto done = topics::write_topic_files(workspace, saved, err); !done) return stage_failed(done);
  fmt::print(out, "  ✓ topics/ 已派生 ({} 主题节点 + _index.md)\n", counts.topics);

  if (auto done = graph::write_record_topics(workspace, std::move(record_topics), records_list, err); !done) {
    return stage_failed(done);
  }
  fmt::print(out, "  ✓ record_topics.json 已写入（保持图谱自洽）\n");

  if (auto done = goals::write_goals_index(workspace, goal_stage->texts); !done) return stage_failed(done);
  fmt::print(out, "  ✓ goals/_index.md 已派生\n");

  auto snapshots = stats::write_month_end_snapshots(workspace, records_list, scan.goals);
  if (!snapshots) return stage_failed(snapshots);
  fmt::print(out, "  ✓ stats/snapshots/ 月末快照已写入\n");

  const auto reports = summary::write_reports(workspace, *journal, *snapshots);
  if (!reports) return stage_failed(reports);
  fmt::print(out, "  ✓ summary/ 已生成: 月报 {} + 周报 {} + 日报 {}\n", reports->monthly,
             reports->weekly, reports->daily);

  if (auto done = write_metrics(workspace, n, out, err); !done) return done;

  if (auto checked = check::self_check(workspace, records_list, saved, out); !checked) {
    const auto kind = checked.error().kind == check::Failure::Kind::Inconsistent ? RunFailure::Kind::HardStop
                                                                                : RunFailure::Kind::Failed;
    return std::unexpected(RunFailure{kind, std::move(checked.error().text)});
  }

  if (options.emit_golden) {
    if (auto done = golden::export_golden(workspace.files_at(*options.emit_golden), records_list, scan.goals, saved); !done) {
      return stage_failed(done);
    }
    fmt::print(out, "  ✓ golden 期望集已导出到 {}\n", options.emit_golden->string());
  }

  fmt::print(out, "\n✅ 补全完成。\n");
  return {};
}

}  // namespace cli
