#include "files/writer.hpp"

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <regex>
#include <sstream>

#include "files/disk.hpp"
#include "files/path_text.hpp"
#include "store/layout.hpp"
#include "store/metrics.hpp"
#include "support/fault_file_system.hpp"
#include "support/memory_file_system.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

const std::string kLoop = "Too many levels of symbolic links";
const fs::path kMetrics(store::kMetricsFile);

files::OutputFile derived(fs::path path, std::string bytes) {
  return {files::FileClass::Derived, std::move(path), std::move(bytes), "写入失败: ", {}};
}

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    outside.write("target", "outside");
    fs::create_directories(outside / "dir");
    fs::create_directories(ws / ".system");
  }
  void link(const fs::path& at, const fs::path& to) const {
    fs::create_directories((ws / at).parent_path());
    fs::create_symlink(to, ws / at);
  }
  void expect_outside_untouched() const {
    EXPECT_EQ(outside.read("target"), "outside");
    EXPECT_TRUE(fs::is_empty(outside / "dir"));
  }
  std::vector<fs::path> kept_copies() const {
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(ws / ".system")) {
      if (entry.path().filename().string().starts_with("metrics.json.bad-")) {
        copies.push_back(entry.path());
      }
    }
    return copies;
  }

  TempDir dir;
  TempDir outside;
  fs::path ws = dir / "ws";
  std::ostringstream err;
  store::Workspace workspace{ws, files::disk()};
};

}  // namespace

TEST_F(WriterTest, ReplacesTargetsOnlyAtTheCommitAndNeverThroughAnotherName) {
#if defined(_WIN32)
  GTEST_SKIP() << "wine makes no symbolic links or junctions";
#endif
  dir.write("ws/a/old.md", "old");
  dir.write("ws/a/old.md.tmp", "half-written by a killed run");
  // Whatever other name stands at a temporary is removed, never written into.
  fs::create_directories(ws / "b");
  fs::create_hard_link(outside / "target", ws / "b/new.md.tmp");
  link("b/linked.md.tmp", outside / "target");
  fs::create_directories(dir / "golden");
  fs::create_symlink(dir / "golden", dir / "golden-link");
  {
    files::Writer writer(workspace.files(), workspace.inputs(), dir / "golden-link", err);
    ASSERT_TRUE(writer.stage({derived("a/old.md", "new"),
                              derived("b/new.md", "fresh"),
                              derived("b/linked.md", "fresh"),
                              derived("c/d/e.md", "deep"),
                              {files::FileClass::Golden, "workspace/x.json", "g", "", ""}}));
    EXPECT_EQ(dir.read("ws/a/old.md"), "old");
    EXPECT_FALSE(dir.exists("ws/b/new.md"));
    ASSERT_TRUE(writer.commit());
  }
  EXPECT_EQ(dir.read("ws/a/old.md"), "new");
  EXPECT_EQ(dir.read("ws/b/new.md"), "fresh");
  EXPECT_EQ(dir.read("ws/b/linked.md"), "fresh");
  EXPECT_EQ(dir.read("ws/c/d/e.md"), "deep");
  // The golden directory may itself be a link.
  EXPECT_EQ(dir.read("golden/workspace/x.json"), "g");
  EXPECT_EQ(testing_support::listing(ws),
            (std::vector<std::string>{".system/", "a/", "a/old.md", "b/", "b/linked.md", "b/new.md",
                                      "c/", "c/d/", "c/d/e.md"}));
  expect_outside_untouched();
}

TEST_F(WriterTest, WhatIsNoRegularFileFailsTheStageWhichLeavesNothing) {
  enum class Plant { Link, DanglingLink, Directory, Fifo };
  struct Case {
    fs::path at;
    Plant plant;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"f.md", Plant::Link, kLoop},
      {"f.md", Plant::DanglingLink, kLoop},
      {"f.md", Plant::Directory, "Is a directory"},
      {"f.md.tmp", Plant::Directory, "Is a directory"},
      {"f.md", Plant::Fifo, "不是普通文件"},
      {"f.md.tmp", Plant::Fifo, "不是普通文件"},
      // A directory on the way.
      {"", Plant::Link, kLoop},
  };
  dir.write("ws/ok.md", "old");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& c = cases[i];
#if defined(_WIN32)
    // Wine makes no symbolic links and no FIFOs.
    if (c.plant != Plant::Directory) continue;
#endif
    const fs::path sub = "c" + std::to_string(i);
    const auto at = c.at.empty() ? ws / sub : ws / sub / c.at;
    fs::create_directories(at.parent_path());
    switch (c.plant) {
      case Plant::Link:
        fs::create_symlink(c.at.empty() ? outside / "dir" : outside / "target", at);
        break;
      case Plant::DanglingLink:
        fs::create_symlink(outside / "nowhere", at);
        break;
      case Plant::Directory:
        fs::create_directories(at);
        break;
      case Plant::Fifo:
#if !defined(_WIN32)
        ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0);
#endif
        break;
    }
    const auto before = testing_support::listing(ws);
    {
      files::Writer writer(workspace.files(), workspace.inputs(), std::nullopt, err);
      const auto staged = writer.stage({derived("ok.md", "new"), derived(sub / "f.md", "x")});
      ASSERT_FALSE(staged);
      EXPECT_EQ(staged.error(), "写入失败: " + c.failure);
    }
    EXPECT_EQ(testing_support::listing(ws), before);
    EXPECT_EQ(dir.read("ws/ok.md"), "old");
  }
  expect_outside_untouched();
  EXPECT_FALSE(fs::exists(outside / "nowhere"));
}

// Files that already hold their bytes are left alone, except state files and
// those with a leftover temporary; the data is flushed before the first
// rename (without a flush of the whole file system, each file and each
// directory up to the base) and the directories after the last.
TEST_F(WriterTest, StepsOfACommit) {
  std::vector<std::pair<files::Fallbacks, std::vector<std::string>>> cases = {
      {files::Fallbacks::Always,
       {"sync-file stale.md.tmp", "sync-file s/t/state.json.tmp", "sync-dir .", "sync-dir s",
        "sync-dir s/t"}}};
#if defined(__linux__)
  cases.emplace_back(files::Fallbacks::WhereNeeded, std::vector<std::string>{});
#endif
  for (const auto& [fallbacks, flushing] : cases) {
    dir.write("ws/same.md", "text");
    dir.write("ws/stale.md", "text");
    dir.write("ws/stale.md.tmp", "half");
    dir.write("ws/s/t/state.json", "{}");
    std::vector<std::string> steps;
    const files::DiskFileSystem disk(fallbacks);
    const testing_support::FaultFileSystem recording(
        disk, [&](testing_support::FileStep step, const fs::path& path) {
          steps.push_back(std::string(testing_support::step_name(step)) + " " +
                          files::generic_path_text(path.lexically_relative(ws)));
          return std::optional<int>();
        });
    store::Workspace watched(ws, recording);
    files::Writer writer(watched.files(), watched.inputs(), std::nullopt, err);
    ASSERT_TRUE(writer.stage({derived("same.md", "text"),
                              derived("stale.md", "text"),
                              {files::FileClass::State, "s/t/state.json", "{ }", "", ""}}));
    ASSERT_TRUE(writer.commit());
    EXPECT_EQ(writer.written(), 2u);
    EXPECT_EQ(writer.unchanged(), 1u);
    std::vector<std::string> expected = {
        "remove stale.md.tmp",       "create stale.md.tmp",           "write-half stale.md.tmp",
        "create s/t/state.json.tmp", "write-half s/t/state.json.tmp", "sync-fs ."};
    expected.insert(expected.end(), flushing.begin(), flushing.end());
    expected.insert(expected.end(),
                    {"rename stale.md", "rename s/t/state.json", "sync-dir .", "sync-dir s/t"});
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(dir.read("ws/stale.md"), "text");
    EXPECT_FALSE(dir.exists("ws/stale.md.tmp"));
  }
}

// A file whose content differs from the disk only in its stamps is left as it
// is; any other difference, a longer or a shorter file, is written.
TEST_F(WriterTest, ContentThatDiffersOnlyInItsStampsIsLeftAlone) {
  const auto producing = [](std::string bytes) -> files::Producer {
    return [bytes](files::ByteSink& sink) {
      sink.put(std::string_view(bytes).substr(0, 2));
      sink.put(std::string_view(bytes).substr(2));
    };
  };
  const auto stamped = [](std::string bytes) {
    auto file = derived("r.md", std::move(bytes));
    file.stamp = {2, 4};
    return file;
  };
  const auto graph = [&](std::string now, std::string before) {
    files::OutputFile file{files::FileClass::State, "r.md", producing(std::move(now)), "", ""};
    file.as_stamped_before = producing(std::move(before));
    return file;
  };
  const std::pair<files::OutputFile, bool> cases[] = {{stamped("# 2027 body"), true},
                                                      {stamped("# 2027 bodY"), false},
                                                      {stamped("#_2027 body"), false},
                                                      {graph("# 2027 body", "# 2026 body"), true},
                                                      {graph("# 2026 body", "# 2027 body"), false},
                                                      {graph("new", "# 2026 bod"), false},
                                                      {graph("new", "# 2026 body!"), false}};
  for (const auto& [file, left_alone] : cases) {
    dir.write("ws/r.md", "# 2026 body");
    files::Writer writer(workspace.files(), workspace.inputs(), std::nullopt, err);
    ASSERT_TRUE(writer.stage({file}));
    EXPECT_EQ(writer.unchanged(), left_alone ? 1u : 0u);
  }
}

TEST_F(WriterTest, AnInputChangedSinceItsLoadFailsTheCommit) {
  struct Case {
    const char* name;
    std::optional<std::string> loaded;
    std::function<void()> change;
    // Whether the changed input is among the files the run writes.
    bool replaced = true;
  };
  const auto metrics = ws / kMetrics;
  const std::vector<Case> cases = {
      {"renamed over", "{}",
       [&] {
         dir.write("ws/edited.json", "{}");
         fs::rename(ws / "edited.json", metrics);
       }},
      {"deleted", "{}", [&] { fs::remove(metrics); }},
      {"created", std::nullopt, [&] { dir.write("ws" / kMetrics, "{}"); }},
      {"not written by the run", "{}", [&] { fs::remove(metrics); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(metrics);
    if (c.loaded) dir.write("ws" / kMetrics, *c.loaded);
    store::Workspace run(ws, files::disk());
    store::load_metrics(run);
    {
      files::Writer writer(run.files(), run.inputs(), std::nullopt, err);
      ASSERT_TRUE(
          writer.stage({c.replaced ? store::metrics_file({1, 2, 3, 4}) : derived("x.md", "x")}));
      c.change();
      const auto committed = writer.commit();
      if (!c.replaced) {
        EXPECT_TRUE(committed);
        continue;
      }
      ASSERT_FALSE(committed);
      EXPECT_EQ(committed.error(), files::changed_input_text(kMetrics));
    }
    EXPECT_FALSE(fs::exists(ws / ".system/metrics.json.tmp"));
    EXPECT_EQ(dir.read("ws" / kMetrics), c.name == std::string("deleted") ? "<missing>" : "{}");
  }
}

TEST_F(WriterTest, AnUnreadableStateFileIsKeptBesideItAndNoCopyReplacesAnother) {
  const std::string unreadable = "\xEF\xBB\xBF{}";
  dir.write("ws" / kMetrics, unreadable);
  const auto stage_and_commit = [&](store::Workspace& run) -> std::expected<void, std::string> {
    store::load_metrics(run);
    files::Writer writer(run.files(), run.inputs(), std::nullopt, err);
    if (auto staged = writer.stage({store::metrics_file({})}); !staged) return staged;
    return writer.commit();
  };

  // A copy that cannot be made leaves the file in place.
  const testing_support::FaultFileSystem full(
      files::disk(), [](testing_support::FileStep, const fs::path& path) {
        return files::path_text(path).find(".bad-") != std::string::npos ? std::optional(ENOSPC)
                                                                         : std::nullopt;
      });
  store::Workspace failing(ws, full);
  const auto failed = stage_and_commit(failing);
  ASSERT_FALSE(failed);
  EXPECT_TRUE(failed.error().starts_with("保留副本失败: " + files::path_text(ws) +
                                         "/.system/metrics.json.bad-"))
      << failed.error();
  EXPECT_TRUE(failed.error().ends_with("Z: No space left on device")) << failed.error();
  EXPECT_EQ(dir.read("ws" / kMetrics), unreadable);
  EXPECT_TRUE(kept_copies().empty());

  // Copies an earlier run kept within this second or the next one stay.
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  for (const std::time_t second : {now, now + 1}) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", std::gmtime(&second));
    dir.write("ws/.system/metrics.json.bad-" + std::string(stamp), "earlier");
  }
  ASSERT_TRUE(stage_and_commit(workspace));
  EXPECT_EQ(dir.read("ws" / kMetrics), store::metrics_to_json({}));
  const auto copies = kept_copies();
  ASSERT_EQ(copies.size(), 3u);
  static const std::regex second_copy(R"(metrics\.json\.bad-\d{8}T\d{6}Z-2)");
  const auto kept = std::ranges::find_if(copies, [](const fs::path& copy) {
    return std::regex_match(copy.filename().string(), second_copy);
  });
  ASSERT_NE(kept, copies.end());
  for (const auto& copy : copies) {
    EXPECT_EQ(testing_support::slurp(copy), copy == *kept ? unreadable : "earlier") << copy;
  }
  EXPECT_EQ(err.str(), "[warn] 无法读取 " + files::shown_path(ws, kMetrics) + "，已保留副本: " +
                           files::shown_path(ws, kept->lexically_relative(ws)) + "\n");

  // Readable now: no further copy.
  store::Workspace next(ws, files::disk());
  ASSERT_TRUE(stage_and_commit(next));
  EXPECT_EQ(kept_copies().size(), 3u);
}

TEST_F(WriterTest, NothingIsReadOrListedThroughALinkBelowTheBase) {
#if defined(_WIN32)
  GTEST_SKIP() << "wine makes no symbolic links, junctions or FIFOs";
#else
  link(".system/linked", outside / "dir");
  link("a/file.md", outside / "target");
  ASSERT_EQ(::mkfifo((ws / "fifo.json").c_str(), 0666), 0);
  const files::Tree& tree = workspace.files();
  using Outcome = std::expected<void, std::string>;
  const auto as_void = [](const auto& result) -> Outcome {
    if (result) return {};
    return std::unexpected(result.error());
  };
  const std::vector<std::tuple<std::string, Outcome, std::string>> outcomes = {
      {"create under linked dir", tree.create_directories(".system/linked/goals"), kLoop},
      {"read link", as_void(tree.read("a/file.md")), kLoop},
      {"read under linked dir", as_void(tree.read(".system/linked/x")), kLoop},
      {"list linked dir", as_void(tree.list(".system/linked")), kLoop},
      {"read fifo", as_void(tree.read("fifo.json")), "不是普通文件"},
  };
  for (const auto& [what, outcome, failure] : outcomes) {
    ASSERT_FALSE(outcome) << what;
    EXPECT_EQ(outcome.error(), failure) << what;
  }
  EXPECT_EQ(tree.kind("a/file.md"), files::EntryKind::Link);
  EXPECT_EQ(tree.kind(".system/linked/x"), files::EntryKind::Link);
  EXPECT_EQ(tree.kind("fifo.json"), files::EntryKind::Other);
  workspace.load_state<int>(".system/linked/x", [](std::string_view) { return 1; });
  // Never read, so never kept as an unreadable copy either.
  EXPECT_FALSE(workspace.inputs().unreadable(".system/linked/x"));
  EXPECT_FALSE(workspace.inputs().all().at(".system/linked/x").identity);
  expect_outside_untouched();
#endif
}

TEST_F(WriterTest, AFileStagedTwiceUnderOneNameIsCommittedOnceTheLaterWinning) {
  // Two topic nodes of one name in a hand-edited graph: the second temporary
  // used to take the first one's place, and its rename then failed half way.
  files::Writer writer(workspace.files(), workspace.inputs(), std::nullopt, err);
  ASSERT_TRUE(writer.stage({derived("t/x.md", "first"), derived("t/y.md", "y")}));
  ASSERT_TRUE(writer.stage({derived("t/./x.md", "second")}));
  ASSERT_TRUE(writer.commit());
  EXPECT_EQ(dir.read("ws/t/x.md"), "second");
  EXPECT_EQ(writer.written(), 2u);
  EXPECT_EQ(testing_support::listing(ws / "t"), (std::vector<std::string>{"x.md", "y.md"}));
}

// A target another program holds open (an editor or a scanner on Windows)
// fails the run before the first rename, so no target is replaced.
TEST(WriterHeldTargetTest, AHeldTargetFailsTheCommitBeforeAnyRename) {
  testing_support::MemoryFileSystem memory;
  memory.write("/ws/a.md", "old a");
  memory.write("/ws/b.md", "old b");
  memory.fail_with([](testing_support::MemoryFileSystem::Call call,
                      const fs::path& path) -> std::optional<files::Error> {
    if (call == testing_support::MemoryFileSystem::Call::CheckReplaceable && path == "/ws/b.md") {
      return files::Error{files::ErrorKind::Busy, "held"};
    }
    return std::nullopt;
  });
  std::ostringstream err;
  store::Workspace workspace("/ws", memory);
  files::Writer writer(workspace.files(), workspace.inputs(), std::nullopt, err);
  ASSERT_TRUE(writer.stage({derived("a.md", "new a"), derived("b.md", "new b")}));
  const auto committed = writer.commit();
  ASSERT_FALSE(committed);
  EXPECT_EQ(committed.error(), "b.md 被其他程序占用，未写入任何文件");
  EXPECT_EQ(memory.read("/ws/a.md"), "old a");
  EXPECT_EQ(memory.read("/ws/b.md"), "old b");
}
