#include "cli/backfill.hpp"

#include <malloc.h>

#include <cerrno>
#include <exception>
#include <new>
#include <optional>
#include <thread>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "check/self_check.hpp"
#include "goals/goal_store.hpp"
#include "goals/goals_index.hpp"
#include "golden/export.hpp"
#include "graph/graph_file.hpp"
#include "graph/rebuild.hpp"
#include "graph/record_topics.hpp"
#include "journal/months.hpp"
#include "journal/scan.hpp"
#include "stats/snapshot.hpp"
#include "store/layout.hpp"
#include "store/metrics.hpp"
#include "files/names.hpp"
#include "files/writer.hpp"
#include "summary/periods.hpp"
#include "summary/summary_files.hpp"
#include "topics/topic_files.hpp"
#include "util/interrupt.hpp"
#include "util/progress.hpp"

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

// How a run that stopped at a failure text ends: a noted signal wins, since
// the text may be only what the signal cut short.
RunFailure failed_or_interrupted(std::string text) {
  if (const int signal = interrupt::noted(); signal != 0) {
    return {RunFailure::Kind::Interrupted, {}, signal, false};
  }
  return failed(std::move(text));
}

template <typename T>
std::unexpected<RunFailure> stage_failed(const std::expected<T, std::string>& result) {
  return std::unexpected(failed_or_interrupted(result.error()));
}

// One run per workspace: the lock on .system is held until the commit is done.
std::expected<std::unique_ptr<files::Lock>, RunFailure> lock_workspace(
    const store::Workspace& workspace, std::ostream& err) {
  auto lock = workspace.file_system().lock_directory(workspace.root(), store::kSystemDir);
  if (lock) return std::move(*lock);
  if (lock.error().kind == files::ErrorKind::Busy) {
    return std::unexpected(failed("另一个 backfill-workspace 正在处理该工作区"));
  }
  // A file system without locks: the run is still worth doing.
  fmt::print(err, "[warn] 无法锁定工作区: {}\n", lock.error().text);
  return nullptr;
}

}  // namespace

std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err, const files::FileSystem& fs) {
  store::Workspace workspace(options.root, fs);
  const auto& root = options.root;
  fmt::print(out, "▶ 工作区: {}{}\n", root.string(), options.dry_run ? "  [DRY-RUN]" : "");
  out.flush();
  if (auto dirs = workspace.ensure_system_dirs(); !dirs) {
    return std::unexpected(failed(dirs.error()));
  }
  std::unique_ptr<files::Lock> lock;
  if (!options.dry_run) {
    auto locked = lock_workspace(workspace, err);
    if (!locked) return std::unexpected(locked.error());
    lock = std::move(*locked);
  }
  auto journal = journal::scan_journal(root, err, fs);
  if (!journal) return stage_failed(journal);
  const auto& records_list = journal->records;
  const std::size_t n = records_list.size();
  fmt::print(out, "  · 扫描到 {} 条记录\n", n);
  if (n == 0) return std::unexpected(failed("工作区无记录可补全"));

  // The scan's readers freed their file buffers in heaps of their own, which
  // the later stages, on other threads, would not reuse: the memory goes back.
  malloc_trim(0);
  const journal::Inference scan = journal::infer(records_list);
  fmt::print(out, "  · 推断: 目标 {} 个（{}/{} 记录有目标）, 主题 {} 个候选（{}/{} 记录有主题）\n",
             scan.goals.size(), scan.with_goal, n, scan.topics.size(), scan.with_topic, n);
  if (options.dry_run) {
    print_plan(records_list, scan, out);
    return {};
  }

  // Declared after the lock, so its leftover temporaries go before the lock does.
  files::Writer writer(workspace.files(), workspace.inputs(), options.emit_golden, err);
  const auto stage = [&](files::OutputFiles files) -> std::expected<void, RunFailure> {
    if (interrupt::noted() != 0) return std::unexpected(failed_or_interrupted({}));
    if (auto staged = writer.stage(std::move(files)); !staged) {
      return std::unexpected(failed_or_interrupted(staged.error()));
    }
    if (interrupt::noted() != 0) return std::unexpected(failed_or_interrupted({}));
    return {};
  };

  // Goal files, with the goal nodes in the graph.
  progress::begin("生成目标文件");
  auto goal_stage = goals::goal_files(workspace, scan.goals, records_list, err);
  if (!goal_stage) return stage_failed(goal_stage);
  if (auto done = stage(std::move(goal_stage->files)); !done) return done;
  // A goal file the file system refused is not written, so the index does not
  // list it.
  std::erase_if(goal_stage->texts, [&](const auto& known) { return writer.refused(known.first); });
  fmt::print(out, "  ✓ goals/ 已生成 ({} 个目标 + _index.md)\n", scan.goals.size());

  // Graph: rebuilt from the records and completed in memory, from the graph
  // with the goal nodes, then saved once.
  progress::begin("重建图谱");
  std::vector<graph::GoalSeed> seeds;
  seeds.reserve(scan.goals.size());
  for (const auto& goal : scan.goals) seeds.push_back({goal, 0});
  graph::Graph previous =
      goal_stage->graph ? std::move(*goal_stage->graph) : graph::load_graph(workspace);
  graph::RecordTopics record_topics = graph::load_record_topics(workspace);
  auto rebuilt = graph::rebuild_and_complete(std::move(previous), records_list, seeds,
                                             record_topics, journal->skipped);
  if (interrupt::noted() != 0) return std::unexpected(failed_or_interrupted({}));
  // So do the loaded graph and the rebuild's indexes, before the reports are
  // made on a second thread and heap.
  malloc_trim(0);
  graph::Graph& saved = rebuilt.graph;
  if (rebuilt.carried_records > 0) {
    fmt::print(err, "[warn] 保留了 {} 个未能读取的记录在图谱中的节点\n", rebuilt.carried_records);
  }
  auto stamped_before = graph::stamp_for_save(saved);
  if (auto done = stage({graph::graph_file(saved, std::move(stamped_before))}); !done) return done;
  // The map goes as soon as its file is made: it is staged later, in its
  // turn, but megabytes of map need not wait with it.
  auto record_topics_output = graph::record_topics_file(std::move(record_topics), records_list);
  const auto counts = graph::count_graph(saved);
  fmt::print(out, "  ✓ graph.json 已重建: {} 节点 ({} record / {} goal / {} topic), {} 边\n",
             counts.nodes, counts.records, counts.goals, counts.topics, counts.edges);

  // Snapshots and reports do not depend on the topic files: they are made on
  // a second core while this one makes and stages the topic files. Every file
  // is still staged, and every line printed, in stage order.
  std::optional<std::expected<stats::SnapshotStage, std::string>> snapshots;
  std::optional<std::expected<summary::ReportStage, std::string>> reports;
  std::jthread summaries([&] {
    // No exception may leave the thread: running out of memory is a failure
    // like any other, reported at the stage where it happened.
    const auto fail = [&](std::string text) {
      if (snapshots && *snapshots) {
        reports = std::unexpected(std::move(text));
      } else {
        snapshots = std::unexpected(std::move(text));
      }
    };
    try {
      snapshots = stats::month_end_snapshots(workspace, records_list, scan.goals);
      if (*snapshots) reports = summary::reports(workspace, *journal, (*snapshots)->index);
    } catch (const std::bad_alloc&) {
      fail("内存不足");
    } catch (const std::exception& e) {
      fail(e.what());
    }
  });

  progress::begin("派生主题文件");
  topics::TopicFiles topic_files(saved, files::FileNames::of(workspace.files(), store::kTopicsDir),
                                 err);
  for (auto batch = topic_files.next(); !batch.empty(); batch = topic_files.next()) {
    if (auto done = stage(std::move(batch)); !done) return done;
  }
  fmt::print(out, "  ✓ topics/ 已派生 ({} 主题节点 + _index.md)\n", counts.topics);

  if (record_topics_output) {
    if (auto done = stage({std::move(*record_topics_output)}); !done) return done;
  }
  fmt::print(out, "  ✓ record_topics.json 已写入（保持图谱自洽）\n");

  if (auto done = stage({goals::goals_index_file(workspace, goal_stage->texts)}); !done)
    return done;
  fmt::print(out, "  ✓ goals/_index.md 已派生\n");

  summaries.join();
  if (!*snapshots) return stage_failed(*snapshots);
  if (auto done = stage(std::move((*snapshots)->files)); !done) return done;
  fmt::print(out, "  ✓ stats/snapshots/ 月末快照已写入\n");

  if (!*reports) return stage_failed(*reports);
  if (auto done = stage(std::move((*reports)->files)); !done) return done;
  fmt::print(out, "  ✓ summary/ 已生成: 月报 {} + 周报 {} + 日报 {}\n", (*reports)->counts.monthly,
             (*reports)->counts.weekly, (*reports)->counts.daily);

  auto metrics = store::load_metrics(workspace);
  metrics.records = n;
  if (auto done = stage({store::metrics_file(metrics)}); !done) return done;
  fmt::print(out, "  ✓ metrics.json: records={}\n", n);

  progress::begin("自检");
  if (auto checked =
          check::self_check(workspace, records_list, saved, rebuilt.carried_records, out);
      !checked) {
    if (checked.error().kind == check::Failure::Kind::Inconsistent) {
      return std::unexpected(
          RunFailure{RunFailure::Kind::HardStop, std::move(checked.error().text)});
    }
    return std::unexpected(failed_or_interrupted(std::move(checked.error().text)));
  }

  if (options.emit_golden) {
    if (auto done =
            stage(golden::golden_files(*options.emit_golden, records_list, scan.goals, saved));
        !done) {
      return done;
    }
    fmt::print(out, "  ✓ golden 期望集已导出到 {}\n", options.emit_golden->string());
  }

  progress::begin("写入磁盘");
  if (auto committed = writer.commit(); !committed) {
    return std::unexpected(failed_or_interrupted(committed.error()));
  }
  // A signal held during the renames ends the run now, with everything written.
  if (const int signal = interrupt::noted(); signal != 0) {
    return std::unexpected(RunFailure{RunFailure::Kind::Interrupted, {}, signal, true});
  }
  fmt::print(out, "  · 写入 {} 个文件，{} 个未变\n", writer.written(), writer.unchanged());
  fmt::print(out, "\n✅ 补全完成。\n");
  return {};
}

}  // namespace cli
