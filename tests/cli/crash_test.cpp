// Kills real runs at many write steps and checks that a kill before the
// commit changes no file, that one during the commit leaves each file old or
// new, that clean runs afterwards settle to what they settle to without the
// kill, and that the user's decisions in the state files survive.
//
// BACKFILL_CRASH_SWEEP=all kills at every step instead of a sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "files/path_text.hpp"
#include "graph/graph_file.hpp"
#include "graph/model.hpp"
#include "support/graph_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::masked_files;
using testing_support::run_backfill_binary;
using testing_support::RunOptions;
using testing_support::slurp;
using testing_support::TempDir;

namespace {

using Files = std::map<std::string, std::string>;

constexpr int kRecords = 120;
// Kill moments per workspace state in the sampled sweep.
constexpr std::size_t kSampledKills = 45;

struct Step {
  long index = 0;
  std::string kind;
  std::string path;
};

std::vector<Step> read_steps(const fs::path& log) {
  std::vector<Step> steps;
  std::istringstream in(slurp(log));
  for (Step step; in >> step.index >> step.kind && std::getline(in >> std::ws, step.path);) {
    steps.push_back(step);
  }
  return steps;
}

bool is_state_or_goal_file(const std::string& path) {
  if (path.ends_with(".tmp")) return is_state_or_goal_file(path.substr(0, path.size() - 4));
  return path.ends_with("graph.json") || path.ends_with("record_topics.json") ||
         path.ends_with("metrics.json") || path.find("/goals/") != std::string::npos ||
         path.ends_with(".cache");
}

// Every step that touches a state or goal file or the record cache, and an
// even spread of the rest.
std::vector<long> kill_moments(const std::vector<Step>& steps) {
  std::vector<long> moments;
  const bool all = std::getenv("BACKFILL_CRASH_SWEEP") != nullptr;
  std::vector<long> others;
  for (const auto& step : steps) {
    if (all || is_state_or_goal_file(step.path)) {
      moments.push_back(step.index);
    } else {
      others.push_back(step.index);
    }
  }
  if (!all && moments.size() > kSampledKills / 2) {
    std::vector<long> thinned;
    for (std::size_t i = 0; i < moments.size(); i += moments.size() / (kSampledKills / 2) + 1) {
      thinned.push_back(moments[i]);
    }
    moments = std::move(thinned);
  }
  const std::size_t wanted = kSampledKills > moments.size() ? kSampledKills - moments.size() : 0;
  for (std::size_t i = 0; !all && wanted > 0 && i < others.size();
       i += others.size() / wanted + 1) {
    moments.push_back(others[i]);
  }
  return moments;
}

class CrashTest : public ::testing::Test {
 protected:
  // A copy of the prepared state in a fresh directory; the root is "ws" in it.
  fs::path fresh_copy() {
    copies_.emplace_back();
    testing_support::copy_tree(state_.path(), copies_.back().path());
    return copies_.back().path();
  }

  // Each copy keeps its record cache beside its workspace.
  static std::string cache_of(const fs::path& dir) {
    return testing_support::cache_home(dir / "cache");
  }

  testing_support::CommandResult run_clean(const fs::path& dir, bool full = false) {
    std::vector<std::string> args{"--root", "ws"};
    if (full) args.emplace_back("--full");
    return run_backfill_binary(args, dir, RunOptions{BACKFILL_BINARY, {cache_of(dir)}, false});
  }

  testing_support::CommandResult run_with_faults(const fs::path& dir,
                                                 std::vector<std::string> env) {
    env.push_back(cache_of(dir));
    return run_backfill_binary({"--root", "ws"}, dir,
                               RunOptions{BACKFILL_FAULT_BINARY, std::move(env), false});
  }

  // The files after clean runs, once a run no longer changes any of them.
  Files settle(const fs::path& dir, bool full = false) {
    Files previous = masked_files(dir / "ws");
    for (int run = 0; run < 4; ++run) {
      const auto result = run_clean(dir, full);
      EXPECT_EQ(result.status, 0) << result.err;
      Files now = masked_files(dir / "ws");
      if (run > 0 && now == previous) return now;
      previous = std::move(now);
    }
    ADD_FAILURE() << "clean runs do not settle";
    return previous;
  }

  void write_edited_state() {
    testing_support::write_inventory_workspace(state_ / "ws", kRecords);
    ASSERT_EQ(run_clean(state_.path()).status, 0);
    auto graph = *testing_support::parse_graph(state_.read("ws/.system/graph.json"));
    for (auto& node : graph.nodes) {
      if (auto* topic = std::get_if<graph::Topic>(&node); topic && topic->id == "t_项目A") {
        topic->x = 12.5f;
        topic->y = 34.25f;
      }
    }
    graph.edges.push_back({"e_用户", "t_项目A", "t_项目B", 2.0f, graph::EdgeSource::User, true});
    graph.layout.algorithm = "force";
    state_.write("ws/.system/graph.json", testing_support::graph_text(graph));
    state_.write("ws/.system/metrics.json",
                 R"({"records": 1, "organizeCalls": 7, "organizeAdopted": 3, "graphEdits": 11})");
  }

  static void expect_edits_survive(const Files& files) {
    const auto graph = testing_support::parse_graph(files.at(".system/graph.json"));
    ASSERT_TRUE(graph);
    EXPECT_EQ(graph->layout.algorithm, "force");
    bool moved = false;
    for (const auto& node : graph->nodes) {
      if (const auto* topic = std::get_if<graph::Topic>(&node); topic && topic->id == "t_项目A") {
        moved = topic->x == 12.5f && topic->y == 34.25f;
      }
    }
    EXPECT_TRUE(moved);
    EXPECT_TRUE(std::ranges::any_of(graph->edges, [](const graph::Edge& e) {
      return e.id() == "e_用户" && e.confirmed && e.source == graph::EdgeSource::User;
    }));
    EXPECT_NE(files.at(".system/metrics.json")
                  .find("\"organizeCalls\": 7,\n  \"organizeAdopted\": "
                        "3,\n  \"graphEdits\": 11"),
              std::string::npos);
  }

  // Kills runs of the prepared state and checks each; `prepare` is done to
  // every copy first. Returns the number of kill moments tried before and
  // during the commit.
  std::pair<std::size_t, std::size_t> sweep(
      bool edited, const std::function<void(const fs::path&)>& prepare = [](const fs::path&) {}) {
    const auto reference = fresh_copy();
    prepare(reference);
    const Files old = masked_files(reference / "ws");

    const auto log = reference / "steps.log";
    const auto logged = run_with_faults(reference, {"BACKFILL_FAULT_LOG=" + files::path_text(log)});
    EXPECT_EQ(logged.status, 0) << logged.err;
    const auto steps = read_steps(log);
    const Files first_run = masked_files(reference / "ws");
    const Files settled = settle(reference);
    if (edited) expect_edits_survive(settled);
    // The commit begins with the flush of the workspace's file system.
    const auto commit = std::ranges::find(steps, std::string("sync-fs"), &Step::kind);
    EXPECT_NE(commit, steps.end());
    const long commit_at = commit == steps.end() ? 0 : commit->index;

    std::pair<std::size_t, std::size_t> tried;
    for (const long moment : kill_moments(steps)) {
      SCOPED_TRACE("killed at step " + std::to_string(moment) + " of " +
                   std::to_string(steps.size()));
      const auto dir = fresh_copy();
      prepare(dir);
      const auto killed = run_with_faults(dir, {"BACKFILL_FAULT_AT=" + std::to_string(moment)});
      EXPECT_EQ(killed.signal, testing_support::kKilledSignal) << killed.err;

      const Files after_kill = masked_files(dir / "ws");
      if (moment < commit_at) {
        ++tried.first;
        EXPECT_TRUE(after_kill == old) << "a run killed before its commit changed files";
      } else {
        ++tried.second;
        for (const auto& [path, content] : old) {
          EXPECT_TRUE(after_kill.contains(path)) << "lost " << path;
        }
        for (const auto& [path, content] : after_kill) {
          const bool is_old = old.contains(path) && old.at(path) == content;
          const bool is_new = first_run.contains(path) && first_run.at(path) == content;
          EXPECT_TRUE(is_old || is_new) << "torn " << path;
        }
      }
      const Files recovered = settle(dir);
      EXPECT_TRUE(recovered == settled) << "clean runs settle elsewhere";
      if (edited) expect_edits_survive(recovered);
      // The next runs removed the temporaries of the files they write.
      for (const auto& entry : fs::recursive_directory_iterator(dir / "ws")) {
        EXPECT_FALSE(files::path_text(entry.path()).ends_with(".tmp")) << "left " << entry.path();
      }
      if (HasFailure()) break;
    }
    copies_.clear();
    return tried;
  }

  TempDir state_;
  std::deque<TempDir> copies_;
};

}  // namespace

TEST_F(CrashTest, KilledRunsOfAFreshWorkspaceTearNothingAndSettle) {
  testing_support::write_inventory_workspace(state_ / "ws", kRecords);
  const auto [before, during] = sweep(false);
  EXPECT_GT(before, 10u);
  EXPECT_GT(during, 10u);
  RecordProperty("kills_before_commit", static_cast<int>(before));
  RecordProperty("kills_during_commit", static_cast<int>(during));
}

// A run that takes records from its cache, killed anywhere (its cache being
// saved included), is followed by runs that end as runs reading every record.
TEST_F(CrashTest, KilledRunsWithACacheEndAsFullRuns) {
  testing_support::write_inventory_workspace(state_ / "ws", kRecords);
  settle(state_.path());
  // A settled workspace whose cache knows every record (records changed
  // within the last 2 s are read again); then one record changes and one
  // comes.
  const auto prepare = [&](const fs::path& dir) {
    for (const auto& entry : fs::recursive_directory_iterator(dir / "ws" / "2026")) {
      if (!entry.is_regular_file()) continue;
      fs::last_write_time(entry.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    ASSERT_EQ(run_clean(dir).status, 0);
    const auto month = dir / "ws/2026/05";
    std::ofstream(month / files::utf8_path("2026-05-01-文档4.md"), std::ios::app)
        << "分类：新目标\n";
    std::ofstream(month / files::utf8_path("2026-05-09-新.md"))
        << "## 10:10\n相对路径：资料\\新主题\\x\n";
  };
  const auto [before, during] = sweep(false, prepare);
  EXPECT_GT(before, 10u);
  EXPECT_GT(during, 5u);
  const auto full = fresh_copy();
  prepare(full);
  fs::remove_all(full / "cache");
  const auto read_in_full = settle(full, true);
  const auto cached = fresh_copy();
  prepare(cached);
  EXPECT_TRUE(settle(cached) == read_in_full);
}

TEST_F(CrashTest, KilledRunsKeepTheUsersEditsAndSettle) {
  write_edited_state();
  const auto [before, during] = sweep(true);
  EXPECT_GT(before, 5u);
  EXPECT_GT(during, 5u);
  RecordProperty("kills_before_commit", static_cast<int>(before));
  RecordProperty("kills_during_commit", static_cast<int>(during));
}
