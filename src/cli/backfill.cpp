#include "cli/backfill.hpp"

#include <chrono>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <streambuf>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "cache/graph_cache.hpp"
#include "cache/record_cache.hpp"
#include "cache/watch.hpp"
#include "check/self_check.hpp"
#include "files/names.hpp"
#include "files/path_text.hpp"
#include "files/writer.hpp"
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
#include "summary/periods.hpp"
#include "summary/summary_stage.hpp"
#include "topics/topic_files.hpp"
#include "util/interrupt.hpp"
#include "util/memory.hpp"
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

// The run's first line, its directories and, for a real run, the lock on
// the workspace, held until the commit is done.
std::expected<std::unique_ptr<files::Lock>, RunFailure> start(const BackfillOptions& options,
                                                              store::Workspace& workspace,
                                                              std::ostream& out,
                                                              std::ostream& err) {
  fmt::print(out, "▶ 工作区: {}{}\n", files::path_text(options.root),
             options.dry_run ? "  [DRY-RUN]" : "");
  out.flush();
  if (auto dirs = workspace.ensure_system_dirs(); !dirs)
    return std::unexpected(failed(dirs.error()));
  if (options.dry_run) return nullptr;
  return lock_workspace(workspace, err);
}

struct Scanned {
  journal::Scan scan;
  journal::Inference inferred;
};

// The records, and the goals and topics they name, with the two scan lines.
// Record files the cache knows unchanged are not read again.
std::expected<Scanned, RunFailure> scan_records(const BackfillOptions& options,
                                                const files::FileSystem& fs,
                                                const journal::ScanCache& scan_cache,
                                                std::ostream& out, std::ostream& err) {
  auto scan = journal::scan_journal(options.root, err, fs, scan_cache);
  if (!scan) return stage_failed(scan);
  const std::size_t n = scan->records.size();
  fmt::print(out, "  · 扫描到 {} 条记录\n", n);
  if (n == 0) return std::unexpected(failed("工作区无记录可补全"));
  auto inferred = journal::infer(scan->records);
  fmt::print(out, "  · 推断: 目标 {} 个（{}/{} 记录有目标）, 主题 {} 个候选（{}/{} 记录有主题）\n",
             inferred.goals.size(), inferred.with_goal, n, inferred.topics.size(),
             inferred.with_topic, n);
  return Scanned{std::move(*scan), std::move(inferred)};
}

// Stages files through the writer. A signal noted before or while they are
// staged ends the run as interrupted, whatever the writer said.
class Stager {
 public:
  explicit Stager(files::Writer& writer) : writer_(writer) {}
  Outcome operator()(files::OutputFiles files) const {
    if (interrupt::noted() != 0) return std::unexpected(failed_or_interrupted({}));
    if (auto staged = writer_.stage(std::move(files)); !staged) {
      return std::unexpected(failed_or_interrupted(staged.error()));
    }
    if (interrupt::noted() != 0) return std::unexpected(failed_or_interrupted({}));
    return {};
  }

 private:
  files::Writer& writer_;
};

// The graph rebuilt from the records and completed in memory, from the graph
// the goal stage left (with the goal nodes), to be saved once; and the
// record-topics map it was rebuilt with, which the run writes anew.
struct GraphStage {
  graph::Rebuilt rebuilt;
  graph::RecordTopics record_topics;
};

GraphStage graph_stage(store::Workspace& workspace, goals::GoalStageOutput& goal_stage,
                       const journal::Scan& scanned, const journal::Inference& inferred,
                       const graph::KnownGraph* known, std::ostream& err) {
  std::vector<graph::GoalSeed> seeds;
  seeds.reserve(inferred.goals.size());
  for (const auto& goal : inferred.goals) seeds.push_back({goal, 0});
  graph::Graph previous =
      goal_stage.graph ? std::move(*goal_stage.graph) : graph::load_graph(workspace, known);
  GraphStage made{{}, graph::load_record_topics(workspace)};
  made.rebuilt = graph::rebuild_and_complete(std::move(previous), scanned.records, seeds,
                                             made.record_topics, scanned.skipped);
  if (made.rebuilt.carried_records > 0) {
    fmt::print(err, "[warn] 保留了 {} 个未能读取的记录在图谱中的节点\n",
               made.rebuilt.carried_records);
  }
  return made;
}

// The closing check of what the run staged: an inconsistency stops the run
// hard, any other failure as a failed stage.
Outcome check_run(store::Workspace& workspace, const journal::Scan& scanned,
                  const graph::Rebuilt& rebuilt, std::ostream& out) {
  auto checked =
      check::self_check(workspace, scanned.records, rebuilt.graph, rebuilt.carried_records, out);
  if (checked) return {};
  if (checked.error().kind == check::Failure::Kind::Inconsistent) {
    return std::unexpected(RunFailure{RunFailure::Kind::HardStop, std::move(checked.error().text)});
  }
  return std::unexpected(failed_or_interrupted(std::move(checked.error().text)));
}

// Replaces the files; a signal held during the renames ends the run then,
// with everything written.
Outcome commit(files::Writer& writer) {
  if (auto committed = writer.commit(); !committed) {
    return std::unexpected(failed_or_interrupted(committed.error()));
  }
  if (const int signal = interrupt::noted(); signal != 0) {
    return std::unexpected(RunFailure{RunFailure::Kind::Interrupted, {}, signal, true});
  }
  return {};
}

// Passes what a stream is given on to another, keeping a copy in the run's
// transcript.
class Tee final : public std::streambuf {
 public:
  Tee(std::ostream& to, bool is_err, std::vector<std::pair<bool, std::string>>& transcript)
      : to_(to), is_err_(is_err), transcript_(transcript) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    xsputn(&byte, 1);
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (transcript_.empty() || transcript_.back().first != is_err_) {
      transcript_.emplace_back(is_err_, std::string());
    }
    transcript_.back().second.append(s, static_cast<std::size_t>(n));
    to_.write(s, n);
    return n;
  }
  int sync() override {
    to_.flush();
    return 0;
  }

 private:
  std::ostream& to_;
  bool is_err_;
  std::vector<std::pair<bool, std::string>>& transcript_;
};

// What the run's files and words depend on besides the files it looks at.
std::string key_options(const BackfillOptions& options) {
  return files::path_text(options.root) + '\0' +
         (options.emit_golden ? "golden:" + files::path_text(*options.emit_golden) : "");
}

// Nanoseconds since 1970, as stamps count them.
std::int64_t now_nanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The records a cache knows, loaded on a second thread while the scan lists
// the year and month directories, which needs none of them: the scan's first
// question about a file waits for the load.
class KnownLater final : public journal::KnownRecords {
 public:
  explicit KnownLater(std::future<std::optional<cache::Contents>> loading)
      : loading_(std::move(loading)) {}
  std::optional<files::Stamp> stamp(std::string_view path) const override {
    const auto* known = contents();
    return known != nullptr ? known->stamp(path) : std::nullopt;
  }
  Held record(std::string_view path, journal::JournalEntry& entry,
              bool& goal_from_inventory) const override {
    const auto* known = contents();
    return known != nullptr ? known->record(path, entry, goal_from_inventory) : Held::Unusable;
  }

 private:
  const cache::Contents* contents() const {
    std::call_once(once_, [&] { loaded_ = loading_.get(); });
    return loaded_ ? &*loaded_ : nullptr;
  }
  mutable std::future<std::optional<cache::Contents>> loading_;
  mutable std::once_flag once_;
  mutable std::optional<cache::Contents> loaded_;
};

// What a finished run leaves for the cache.
struct Finished {
  std::optional<journal::Scan> scan;
  bool wrote_nothing = false;
  // The graph as graph.json holds it after the commit, and the hash of the
  // file's bytes.
  std::optional<graph::Graph> graph;
  std::optional<std::uint64_t> graph_hash;
};

std::expected<void, RunFailure> run(const BackfillOptions& options, std::ostream& out,
                                    std::ostream& err, const files::FileSystem& fs,
                                    store::Workspace& workspace,
                                    std::unique_ptr<journal::KnownRecords>& known,
                                    const graph::KnownGraph* known_graph, bool remember,
                                    Finished& finished);

// The graph kept beside the cache, for the graph.json whose bytes hash to
// the hash it names: only that hash is read now, the graph itself when the
// run loads graph.json and finds those bytes.
std::optional<graph::KnownGraph> known_graph(const cache::CacheFile& file) {
  const auto head = file.load_graph(cache::HeldGraph::kHeadBytes);
  const auto hash = head ? cache::HeldGraph::file_hash_of(*head) : std::nullopt;
  if (!hash) return std::nullopt;
  return graph::KnownGraph{*hash, [&file, hash]() -> std::optional<graph::Graph> {
                             auto bytes = file.load_graph();
                             auto held =
                                 bytes ? cache::HeldGraph::of(std::move(*bytes)) : std::nullopt;
                             if (!held || held->file_hash() != *hash) return std::nullopt;
                             return held->decode();
                           }};
}

}  // namespace

std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err, const files::FileSystem& fs) {
  // Anything the run looks at that changes from here on may not be seen as
  // it is at the end.
  const std::int64_t since = now_nanoseconds() - journal::kRacyNanoseconds;
  const auto cache_file =
      options.cache_dir ? cache::CacheFile::of(fs, options.root, *options.cache_dir) : std::nullopt;
  const bool keyed = cache_file && !options.dry_run;
  // Every look of a real run is noted, for the next run to tell whether
  // anything changed.
  cache::Watch watch(fs);
  const files::FileSystem& run_fs = keyed ? static_cast<const files::FileSystem&>(watch) : fs;
  store::Workspace workspace(options.root, run_fs);
  auto lock = start(options, workspace, out, err);
  if (!lock) return std::unexpected(lock.error());

  progress::begin("读取缓存");
  std::optional<cache::Contents> cached;
  const std::string asked = key_options(options);
  if (keyed && !options.full) cached = cache_file->load(false);
  progress::begin("核对缓存");
  std::optional<cache::RunKey> unchanged_key;
  cache::Verdict verdict;
  if (cached && cached->key && cached->key->options == asked) {
    verdict = cache::nothing_changed(fs, options.root, *cached);
    if (verdict.same) unchanged_key = std::move(cached->key);
  }
  // What the scan may take from the cache.
  cached.reset();
  if (cache_file && !options.full && unchanged_key && !verdict.to_read.empty()) {
    cached = cache_file->load(true);
  }
  // Record files whose stamps moved may still hold what the cache holds:
  // saved again as they were, touched, or with more text past the snippet.
  if (unchanged_key && !verdict.to_read.empty() &&
      !(cached && cache::reads_the_same(fs, options.root, *cached, verdict.to_read))) {
    unchanged_key.reset();
  }
  if (unchanged_key) {
    // Nothing it depended on changed since a run that wrote nothing: this
    // run would read, compute and write the same, and print the same.
    if (interrupt::noted() != 0) return std::unexpected(failed_or_interrupted({}));
    for (const auto& [to_err, text] : unchanged_key->transcript) (to_err ? err : out) << text;
    out.flush();
    return {};
  }
  std::unique_ptr<journal::KnownRecords> known;
  if (cached) {
    cached->key.reset();
    known = std::make_unique<cache::Contents>(std::move(*cached));
  } else if (cache_file && !options.full && cache_file->present()) {
    known = std::make_unique<KnownLater>(
        std::async(std::launch::async, [&file = *cache_file]() -> std::optional<cache::Contents> {
          // A cache that cannot be loaded is none, whatever the reason.
          try {
            return file.load(true);
          } catch (...) {
            return std::nullopt;
          }
        }));
  }
  cached.reset();
  const auto graph_known = cache_file && !options.full ? known_graph(*cache_file) : std::nullopt;

  cache::RunKey key{asked, {}, {}};
  Tee out_tee(out, false, key.transcript);
  Tee err_tee(err, true, key.transcript);
  std::ostream tee_out(&out_tee);
  std::ostream tee_err(&err_tee);
  Finished finished;
  auto ran = run(options, keyed ? tee_out : out, keyed ? tee_err : err, run_fs, workspace, known,
                 graph_known ? &*graph_known : nullptr, keyed, finished);
  if (!ran || !keyed) return ran;
  // Still under the lock. A run killed before this leaves the old cache,
  // which still tells only what its own files held.
  tee_out.flush();
  tee_err.flush();
  const journal::Scan& scan = *finished.scan;
  // Only when every record file is known to the cache as it is, and the run
  // wrote nothing: what it wrote changed too recently to be trusted, and the
  // next run, finding its files as they should be, writes nothing and keeps
  // the key.
  auto seen = finished.wrote_nothing && scan.remembered.size() == scan.file_count ? watch.key(since)
                                                                                  : std::nullopt;
  if (seen) key.seen = std::move(*seen);
  progress::begin("保存缓存");
  // The two files are written side by side, on two cores. The graph kept
  // already stands for these bytes when it has their hash: the graph is the
  // same.
  std::future<void> graph_saved;
  if (finished.graph && finished.graph_hash &&
      (!graph_known || graph_known->file_hash != *finished.graph_hash)) {
    graph_saved = std::async(std::launch::async, [&] {
      try {
        (void)cache_file->save_graph([&](files::ByteSink& sink) {
          cache::write_graph(*finished.graph, *finished.graph_hash,
                             [&](std::string_view piece) { sink.put(piece); });
        });
      } catch (...) {
        // A graph that cannot be kept is parsed next time.
      }
    });
  }
  (void)cache_file->save([&](files::ByteSink& sink) {
    cache::write(scan, seen ? &key : nullptr, [&](std::string_view piece) { sink.put(piece); });
  });
  if (graph_saved.valid()) graph_saved.wait();
  progress::begin("完成");
  return {};
}

namespace {

std::expected<void, RunFailure> run(const BackfillOptions& options, std::ostream& out,
                                    std::ostream& err, const files::FileSystem& fs,
                                    store::Workspace& workspace,
                                    std::unique_ptr<journal::KnownRecords>& known,
                                    const graph::KnownGraph* known_graph, bool remember,
                                    Finished& finished) {
  auto scanned = scan_records(options, fs, {known.get(), remember}, out, err);
  // What the cache knew is in the scan now; its pages go back before the
  // stages that need the most.
  if (known) {
    known.reset();
    memory::give_back();
  }
  if (!scanned) return std::unexpected(scanned.error());
  const auto& [scan, inferred] = *scanned;
  const auto& records = scan.records;
  const std::size_t n = records.size();
  if (options.dry_run) {
    print_plan(records, inferred, out);
    return {};
  }

  // Declared after the lock, so its leftover temporaries go before the lock does.
  files::Writer writer(workspace.files(), workspace.inputs(), options.emit_golden, err);
  const Stager stage(writer);

  progress::begin("生成目标文件");
  auto goal_stage = goals::goal_files(workspace, inferred.goals, records, err, known_graph);
  if (!goal_stage) return stage_failed(goal_stage);
  if (auto done = stage(std::move(goal_stage->files)); !done) return done;
  // A goal file the file system refused is not written, so the index does not list it.
  std::erase_if(goal_stage->texts, [&](const auto& known) { return writer.refused(known.first); });
  fmt::print(out, "  ✓ goals/ 已生成 ({} 个目标 + _index.md)\n", inferred.goals.size());

  progress::begin("重建图谱");
  auto [rebuilt, record_topics_map] =
      graph_stage(workspace, *goal_stage, scan, inferred, known_graph, err);
  graph::Graph& graph = rebuilt.graph;
  const graph::Stamps before = graph::stamp_for_save(graph);
  graph::TextHashes graph_hashes;
  if (auto done = stage({graph::graph_file(graph, before, &graph_hashes)}); !done) return done;
  // The map goes as soon as its file is made; megabytes of it need not wait.
  auto record_topics = graph::record_topics_file(std::move(record_topics_map), records);
  const auto counts = graph::count_graph(graph);
  fmt::print(out, "  ✓ graph.json 已重建: {} 节点 ({} record / {} goal / {} topic), {} 边\n",
             counts.nodes, counts.records, counts.goals, counts.topics, counts.edges);

  summary::SummaryStage summaries(workspace, scan, inferred.goals);
  progress::begin("派生主题文件");
  topics::TopicFiles topic_files(graph, files::FileNames::of(workspace.files(), store::kTopicsDir),
                                 err);
  for (auto batch = topic_files.next(); !batch.empty(); batch = topic_files.next()) {
    if (auto done = stage(std::move(batch)); !done) return done;
  }
  fmt::print(out, "  ✓ topics/ 已派生 ({} 主题节点 + _index.md)\n", counts.topics);
  if (record_topics) {
    if (auto done = stage({std::move(*record_topics)}); !done) return done;
  }
  fmt::print(out, "  ✓ record_topics.json 已写入（保持图谱自洽）\n");
  if (auto done = stage({goals::goals_index_file(workspace, goal_stage->texts)}); !done)
    return done;
  fmt::print(out, "  ✓ goals/_index.md 已派生\n");

  auto snapshots = summaries.snapshots();
  if (!snapshots) return stage_failed(snapshots);
  if (auto done = stage(std::move(*snapshots)); !done) return done;
  fmt::print(out, "  ✓ stats/snapshots/ 月末快照已写入\n");
  for (auto report = summaries.next_report(); report; report = summaries.next_report()) {
    files::OutputFiles one;
    one.push_back(std::move(*report));
    if (auto done = stage(std::move(one)); !done) return done;
  }
  const auto reports = summaries.counts();
  if (!reports) return stage_failed(reports);
  fmt::print(out, "  ✓ summary/ 已生成: 月报 {} + 周报 {} + 日报 {}\n", reports->monthly,
             reports->weekly, reports->daily);

  auto metrics = store::load_metrics(workspace);
  metrics.records = n;
  if (auto done = stage({store::metrics_file(metrics)}); !done) return done;
  fmt::print(out, "  ✓ metrics.json: records={}\n", n);

  progress::begin("自检");
  if (auto checked = check_run(workspace, scan, rebuilt, out); !checked) return checked;
  if (options.emit_golden) {
    auto golden = golden::golden_files(*options.emit_golden, records, inferred.goals, graph);
    if (auto done = stage(std::move(golden)); !done) return done;
    fmt::print(out, "  ✓ golden 期望集已导出到 {}\n", files::path_text(*options.emit_golden));
  }
  progress::begin("写入磁盘");
  if (auto committed = commit(writer); !committed) return committed;
  fmt::print(out, "  · 写入 {} 个文件，{} 个未变\n", writer.written(), writer.unchanged());
  fmt::print(out, "\n✅ 补全完成。\n");
  // The scan and the graph go on to the cache; everything else of the run
  // goes now.
  finished.wrote_nothing = writer.written() == 0;
  finished.scan = std::move(scanned->scan);
  if (remember) {
    if (writer.staged(store::kGraphFile)) {
      finished.graph_hash = graph_hashes.stamped;
    } else {
      // Left as it was: the file holds the stamps it had.
      finished.graph_hash = graph_hashes.before;
      graph.version = before.version;
      graph.layout.timestamp = before.timestamp;
    }
    finished.graph = std::move(graph);
  }
  return {};
}

}  // namespace
}  // namespace cli
