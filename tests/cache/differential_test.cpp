// A run that takes records from the cache must be a run that reads them all:
// two copies of a workspace go through the same random changes, one run with
// its cache after each and the other with --full, and they must end as the
// same files and the same words. BACKFILL_DIFF_SEED and BACKFILL_DIFF_STEPS
// run it longer (scripts/bench.sh does).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "files/path_text.hpp"
#include "support/run_binary.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::slurp;

namespace {

using namespace std::chrono_literals;

unsigned long from_environment(const char* name, unsigned long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::stoul(value) : fallback;
}

std::vector<fs::path> record_files(const fs::path& root) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto relative = files::generic_path_text(fs::relative(entry.path(), root));
    if (entry.is_regular_file() && !relative.starts_with(".") && relative.ends_with(".md")) {
      found.push_back(fs::relative(entry.path(), root));
    }
  }
  std::ranges::sort(found);
  return found;
}

void write(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// As the note application saves: a new file renamed over the old one.
void save_as_note_app(const fs::path& path, const std::string& bytes) {
  write(fs::path(path) += ".note-app", bytes);
  fs::rename(fs::path(path) += ".note-app", path);
}

// One random change, made the same way in each copy. Returns the extra
// arguments of the next run.
class Changes {
 public:
  Changes(std::vector<fs::path> roots, fs::path cache, unsigned long seed)
      : roots_(std::move(roots)), cache_(std::move(cache)), random_(seed) {}

  std::vector<std::string> next(unsigned long step) {
    const auto records = record_files(roots_[0]);
    const auto pick = [&](const auto& list) { return list[random_() % std::size(list)]; };
    const fs::path record = pick(records);
    std::vector<std::string> args;
    switch (random_() % 12) {
      case 0: {  // a new record
        const auto name = fmt::format("2026/0{}/2026-0{}-{:02}-新{}.md", 5 + step % 4, 5 + step % 4,
                                      1 + step % 28, step);
        each([&](const fs::path& root) {
          write(root / files::utf8_path(name),
                fmt::format("## 0{}:1{}\n分类：{}\n相对路径：资料\\{}\\x\n", step % 10, step % 10,
                            step % 2 == 0 ? "工作" : "新目标", step % 3 == 0 ? "项目A" : "新主题"));
        });
        break;
      }
      case 1:
        if (records.size() > 5) each([&](const fs::path& root) { fs::remove(root / record); });
        break;
      case 2: {
        const auto to =
            record.parent_path() / files::utf8_path(files::path_text(record.stem()) + "-改.md");
        each([&](const fs::path& root) { fs::rename(root / record, root / to); });
        break;
      }
      case 3:  // the same size, the same modification time: only ctime tells
        each([&](const fs::path& root) {
          const auto path = root / record;
          const auto when = fs::last_write_time(path);
          auto text = slurp(path);
          const auto at = text.find("## ");
          if (at != std::string::npos) text[at + 4] = text[at + 4] == '1' ? '0' : '1';
          std::fstream(path, std::ios::binary | std::ios::in | std::ios::out) << text;
          fs::last_write_time(path, when);
        });
        break;
      case 4: {  // the note application edits a state file
        const char* const state[] = {".system/graph.json", ".system/record_topics.json",
                                     ".system/metrics.json", ".system/goals/工作.md"};
        const auto relative = files::utf8_path(pick(state));
        each([&](const fs::path& root) {
          if (fs::exists(root / relative))
            save_as_note_app(root / relative, slurp(root / relative) + "\n");
        });
        break;
      }
      case 5: {  // an output file deleted, edited or touched
        const char* const outputs[] = {".system/topics/_index.md", "summary/monthly/2026-06.md",
                                       ".system/goals/_index.md"};
        const auto relative = files::utf8_path(pick(outputs));
        const unsigned long how = random_() % 3;
        each([&](const fs::path& root) {
          if (!fs::exists(root / relative)) return;
          if (how == 0) fs::remove(root / relative);
          if (how == 1) write(root / relative, "手改\n");
          if (how == 2) fs::last_write_time(root / relative, fs::file_time_type::clock::now());
        });
        break;
      }
      case 6:  // the cache cut short, damaged or replaced
        for (const auto& entry : fs::recursive_directory_iterator(cache_)) {
          if (!entry.is_regular_file()) continue;
          auto bytes = slurp(entry.path());
          const unsigned long how = random_() % 3;
          if (how == 0) bytes.resize(bytes.size() / 2);
          if (how == 1 && !bytes.empty()) bytes[random_() % bytes.size()] ^= 0x20;
          if (how == 2) bytes = "BFWCACHE";
          write(entry.path(), bytes);
        }
        break;
      case 7: {  // a goal file or a snapshot of the user's own
        const auto relative =
            files::utf8_path(random_() % 2 == 0 ? ".system/goals/手写.md"
                                                : ".system/stats/snapshots/2026-04-30.json");
        each([&](const fs::path& root) {
          if (fs::exists(root / relative)) {
            fs::remove(root / relative);
          } else {
            write(root / relative, relative.extension() == ".md" ? "# 手写\n" : "{}\n");
          }
        });
        break;
      }
      case 8:
        args = {"--emit-golden", "golden"};
        break;
      case 10: {  // saved again: as it was, with more text, or with a new goal line
        const char* const more[] = {"", "\n", "更多正文，写在摘要之后。\n", "分类：另一目标\n"};
        const std::string text = pick(more);
        each([&](const fs::path& root) { write(root / record, slurp(root / record) + text); });
        break;
      }
      case 9:  // unreadable for one run, then back as it was
        each([&](const fs::path& root) {
          const auto path = root / record;
          held_.push_back({path, slurp(path), fs::last_write_time(path)});
          write(path, "\xff\xfe");
        });
        return args;
      default:  // the clock moved: a record dated far ahead or back
        each([&](const fs::path& root) {
          fs::last_write_time(root / record,
                              fs::file_time_type::clock::now() + (step % 2 == 0 ? 1h : -48h));
        });
        break;
    }
    for (auto& [path, bytes, when] : held_) {
      write(path, bytes);
      fs::last_write_time(path, when);
    }
    held_.clear();
    return args;
  }

 private:
  template <typename F>
  void each(F&& change) {
    for (const auto& root : roots_) change(root);
  }

  struct Held {
    fs::path path;
    std::string bytes;
    fs::file_time_type when;
  };
  std::vector<fs::path> roots_;
  fs::path cache_;
  std::mt19937 random_;
  std::vector<Held> held_;
};

// A run does not trust what changed less than 2 s before it started: dating
// back whatever changed in the steps before lets the next runs take records
// from the cache, and find nothing changed at all.
void date_back(const fs::path& root) {
  const auto recent = fs::file_time_type::clock::now() - 10s;
  std::vector<fs::path> paths{root};
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.push_back(entry.path());
  for (const auto& path : paths) {
    const auto when = fs::last_write_time(path);
    // libstdc++ for Windows cannot date a directory: there no run finds
    // nothing changed right after another.
    std::error_code ignored;
    if (when > recent && when < recent + 1min) fs::last_write_time(path, recent - 1s, ignored);
  }
}

fs::file_time_type cache_written(const fs::path& cache) {
  auto last = fs::file_time_type::min();
  if (!fs::exists(cache)) return last;
  for (const auto& entry : fs::recursive_directory_iterator(cache)) {
    if (entry.is_regular_file()) last = std::max(last, entry.last_write_time());
  }
  return last;
}

TEST(CacheDifferentialTest, RunsWithTheCacheEndAsRunsThatReadEveryRecord) {
  const unsigned long seed = from_environment("BACKFILL_DIFF_SEED", 20261210);
  const unsigned long steps = from_environment("BACKFILL_DIFF_STEPS", 40);
  testing_support::TempDir dir;
  const fs::path cached = dir / "cached";
  const fs::path full = dir / "full";
  testing_support::write_inventory_workspace(cached / "ws", 30);
  fs::create_directories(full);
  testing_support::copy_tree(cached / "ws", full / "ws");
  const auto run = [&](const fs::path& at, std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", "ws"});
    return testing_support::run_backfill_binary(
        args, at, {BACKFILL_BINARY, {testing_support::cache_home(at / "cache")}, false});
  };
  Changes changes({cached / "ws", full / "ws"}, cached / "cache", seed);
  // Runs that found nothing changed, and so wrote not even the cache.
  int untouched = 0;
  for (unsigned long step = 0; step <= steps; ++step) {
    date_back(cached / "ws");
    date_back(full / "ws");
    // Every fifth step and the one after it change nothing.
    const bool still = step % 5 == 3 || step % 5 == 4;
    const auto args = step == 0 || still ? std::vector<std::string>{} : changes.next(step);
    const auto cache_before = cache_written(cached / "cache");
    const auto with_cache = run(cached, args);
    if (cache_written(cached / "cache") == cache_before) ++untouched;
    auto full_args = args;
    full_args.push_back("--full");
    const auto without = run(full, full_args);
    SCOPED_TRACE(fmt::format("seed {}, step {}, {}", seed, step, fmt::join(args, " ")));
    ASSERT_EQ(with_cache.status, without.status) << with_cache.err << without.err;
    ASSERT_EQ(with_cache.out, without.out);
    ASSERT_EQ(with_cache.err, without.err);
    ASSERT_EQ(testing_support::masked_files(cached / "ws"),
              testing_support::masked_files(full / "ws"));
    if (!args.empty()) {
      ASSERT_EQ(testing_support::masked_files(cached / "golden"),
                testing_support::masked_files(full / "golden"));
    }
  }
  EXPECT_FALSE(fs::is_empty(cached / "cache" / "backfill-workspace"));
#if !defined(_WIN32)
  EXPECT_GT(untouched, 0);
#endif
  RecordProperty("unchanged_runs", untouched);
}

}  // namespace

namespace {

// A record file whose stamp moved but which gives the same record (saved
// again as it was, touched) leaves a run with nothing to do: it prints what
// the last run printed and writes nothing, not even the cache. A record that
// reads differently means a normal run.
TEST(CacheDifferentialTest, ARecordSavedAgainAsItWasLeavesNothingToDo) {
#if defined(_WIN32)
  GTEST_SKIP() << "libstdc++ for Windows cannot date a directory back: no run there finds nothing "
                  "changed right after another";
#endif
  testing_support::TempDir dir;
  const fs::path at = dir / "a";
  testing_support::write_inventory_workspace(at / "ws", 30);
  const auto run = [&] {
    return testing_support::run_backfill_binary(
        {"--root", "ws"}, at,
        {BACKFILL_BINARY, {testing_support::cache_home(at / "cache")}, false});
  };
  // Settled and dated back, then once more to leave the key of a run with
  // nothing to do.
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(run().status, 0);
    date_back(at / "ws");
  }
  const auto settled = run();
  const fs::path record = at / "ws" / record_files(at / "ws").front();
  const std::string text = slurp(record);
  struct Case {
    const char* what;
    std::function<void()> change;
    bool nothing_to_do;
  };
  const Case cases[] = {
      {"saved again as it was", [&] { write(record, text); }, true},
      {"touched", [&] { fs::last_write_time(record, fs::file_time_type::clock::now() - 1h); },
       true},
      {"another time", [&] { write(record, text.substr(0, text.find("## ") + 3) + "23:59\n"); },
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    const auto before = cache_written(at / "cache");
    const auto now = run();
    EXPECT_EQ(cache_written(at / "cache") == before, c.nothing_to_do);
    EXPECT_EQ(now.out == settled.out, c.nothing_to_do);
    EXPECT_EQ(now.err, settled.err);
  }
}

}  // namespace
