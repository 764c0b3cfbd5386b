#include "store/tree.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>

#include "store/workspace.hpp"
#include "support/temp_dir.hpp"
#include "support/workspace_tree.hpp"

namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

const std::string kLoop = "Too many levels of symbolic links";

// Records the steps of the file layer and fails those whose path holds `fail`.
class RecordingHook final : public store::FileHook {
 public:
  explicit RecordingHook(std::string fail = "") : fail_(std::move(fail)) {}

  std::optional<int> before(store::FileStep step, const fs::path& path) override {
    steps.push_back(step);
    if (!fail_.empty() && path.native().find(fail_) != std::string::npos) return ENOSPC;
    return std::nullopt;
  }
  std::vector<store::FileStep> steps;

 private:
  std::string fail_;
};

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    outside.write("target", "outside");
    fs::create_directories(outside / "dir");
  }
  void link(const fs::path& at, const fs::path& to) const {
    fs::create_directories((ws / at).parent_path());
    fs::create_symlink(to, ws / at);
  }
  void expect_outside_untouched() const {
    EXPECT_EQ(outside.read("target"), "outside");
    EXPECT_TRUE(fs::is_empty(outside / "dir"));
  }

  TempDir dir;
  TempDir outside;
  fs::path ws = dir / "ws";
  store::Tree tree{ws};
};

}  // namespace

TEST_F(TreeTest, NoOperationPassesThroughALinkBelowTheBase) {
  link(".system", outside / "dir");
  link("a/file.md", outside / "target");
  link("b/file.md.tmp", outside / "target");
  link("c/file.md", outside / "nowhere");
  using Outcome = std::expected<void, std::string>;
  const auto as_void = [](const auto& result) -> Outcome {
    if (result) return {};
    return std::unexpected(result.error());
  };
  const std::vector<std::pair<std::string, Outcome>> outcomes = {
      {"create under linked dir", tree.create_directories(".system/goals")},
      {"atomic under linked dir", tree.write_atomic(".system/graph.json", "x")},
      {"atomic onto link", tree.write_atomic("a/file.md", "x")},
      {"atomic through .tmp link", tree.write_atomic("b/file.md", "x")},
      {"atomic onto dangling link", tree.write_atomic("c/file.md", "x", store::Durability::Durable)},
      {"plain onto link", tree.write_plain("a/file.md", "x")},
      {"read link", as_void(tree.read("a/file.md"))},
      {"read under linked dir", as_void(tree.read(".system/x"))},
      {"list linked dir", as_void(tree.list(".system"))},
  };
  for (const auto& [what, outcome] : outcomes) {
    ASSERT_FALSE(outcome) << what;
    EXPECT_EQ(outcome.error(), kLoop) << what;
  }
  EXPECT_EQ(tree.kind("a/file.md"), store::EntryKind::Link);
  EXPECT_EQ(tree.kind(".system/graph.json"), store::EntryKind::Link);
  expect_outside_untouched();
  EXPECT_FALSE(fs::exists(outside / "nowhere"));
}

TEST_F(TreeTest, TheBaseItselfMayBeALinkAndIsMadeWhenMissing) {
  fs::create_symlink(outside / "dir", dir / "linked");
  ASSERT_TRUE(store::Tree(dir / "linked").write_atomic("x/y.md", "ok"));
  EXPECT_EQ(outside.read("dir/x/y.md"), "ok");
  ASSERT_TRUE(store::Tree(dir / "new/base").create_directories("sub"));
  EXPECT_TRUE(fs::is_directory(dir / "new/base/sub"));
}

TEST_F(TreeTest, SpecialFilesAreNeitherReadNorWrittenAndNothingBlocks) {
  fs::create_directories(ws);
  ASSERT_EQ(::mkfifo((ws / "fifo.json").c_str(), 0666), 0);
  ASSERT_EQ(::mkfifo((ws / "out.md.tmp").c_str(), 0666), 0);
  const auto read = tree.read("fifo.json");
  ASSERT_FALSE(read);
  EXPECT_EQ(read.error(), "不是普通文件");
  const auto written = tree.write_atomic("out.md", "x");
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error(), "不是普通文件");
  EXPECT_EQ(tree.kind("fifo.json"), store::EntryKind::Other);
}

TEST_F(TreeTest, DerivedFilesThatHoldTheirBytesAreNotRewritten) {
  RecordingHook hook;
  const store::Workspace workspace(ws, &hook);
  dir.write("ws/same.md", "text");
  dir.write("ws/other.md", "old");
  dir.write("ws/stale.md", "text");
  dir.write("ws/stale.md.tmp", "half");
  struct stat before{};
  ASSERT_EQ(::stat((ws / "same.md").c_str(), &before), 0);

  ASSERT_TRUE(workspace.write("same.md", "text", "写入失败: "));
  EXPECT_TRUE(hook.steps.empty());
  struct stat after{};
  ASSERT_EQ(::stat((ws / "same.md").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);

  // A longer file, different bytes, or a leftover temporary: replaced as ever.
  ASSERT_TRUE(workspace.write("same.md", "tex", "写入失败: "));
  ASSERT_TRUE(workspace.write("other.md", "new", "写入失败: "));
  ASSERT_TRUE(workspace.write("stale.md", "text", "写入失败: "));
  EXPECT_EQ(dir.read("ws/same.md"), "tex");
  EXPECT_EQ(dir.read("ws/other.md"), "new");
  EXPECT_FALSE(fs::exists(ws / "stale.md.tmp"));

  // A link whose target holds the bytes is still refused.
  link("linked.md", outside / "target");
  const auto linked = workspace.write("linked.md", "outside", "写入失败: ");
  ASSERT_FALSE(linked);
  EXPECT_NE(linked.error().find(kLoop), std::string::npos) << linked.error();
}

TEST_F(TreeTest, DurableReplaceFlushesTheDataBeforeAndTheNameAfterTheRename) {
  using enum store::FileStep;
  {
    RecordingHook hook;
    ASSERT_TRUE(store::Tree(ws, &hook).write_atomic("s/state.json", "{}", store::Durability::Durable));
    EXPECT_EQ(hook.steps, (std::vector{MakeDirectory, MakeDirectory, CreateTemporary, WriteHalf,
                                       SyncFile, Rename, SyncDirectory}));
  }
  RecordingHook hook;
  ASSERT_TRUE(store::Tree(ws, &hook).write_atomic("s/derived.md", "x"));
  EXPECT_EQ(hook.steps, (std::vector{CreateTemporary, WriteHalf, Rename}));
}

class StateFileTest : public TreeTest {
 protected:
  static std::optional<int> parse(std::string_view text) {
    if (text != "good") return std::nullopt;
    return 1;
  }
  int load() { return workspace.load_state<int>("s/state.json", parse); }
  store::Found found() const { return workspace.found("s/state.json"); }
  std::expected<void, std::string> save() {
    return workspace.save_state("s/state.json", "good", "写入 state 失败: ", warnings);
  }
  std::vector<fs::path> kept_copies() const {
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(ws / "s")) {
      if (entry.path().filename().string().starts_with("state.json.bad-")) {
        copies.push_back(entry.path());
      }
    }
    return copies;
  }
  RecordingHook hook{".bad-"};
  std::ostringstream warnings;
  store::Workspace workspace{ws};
};

TEST_F(StateFileTest, AnUnreadableFileIsCopiedOnceBeforeItIsReplaced) {
  dir.write("ws/s/state.json", "\xEF\xBB\xBFgood");
  EXPECT_EQ(load(), 0);
  ASSERT_EQ(found(), store::Found::Unreadable);
  ASSERT_TRUE(save());
  EXPECT_EQ(dir.read("ws/s/state.json"), "good");
  const auto copies = kept_copies();
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(testing_support::slurp(copies[0]), "\xEF\xBB\xBFgood");
  static const std::regex copy_name(R"(state\.json\.bad-\d{8}T\d{6}Z)");
  EXPECT_TRUE(std::regex_match(copies[0].filename().string(), copy_name)) << copies[0];
  EXPECT_EQ(warnings.str(), "[warn] 无法读取 " + (ws / "s/state.json").string() +
                                "，已保留副本: " + copies[0].string() + "\n");

  // Now readable: the next load and save make no copy.
  EXPECT_EQ(load(), 1);
  ASSERT_TRUE(save());
  EXPECT_EQ(kept_copies().size(), 1u);
}

TEST_F(StateFileTest, ValidMissingAndLinkedFilesAreNotCopied) {
  dir.write("ws/s/state.json", "good");
  EXPECT_EQ(load(), 1);
  EXPECT_EQ(found(), store::Found::Valid);
  fs::remove(ws / "s/state.json");
  load();
  EXPECT_EQ(found(), store::Found::Missing);
  link("s/state.json", outside / "target");
  EXPECT_EQ(load(), 0);
  EXPECT_EQ(found(), store::Found::NotRegular);
  const auto saved = save();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error(), "写入 state 失败: IO 错误: " + kLoop);
  EXPECT_TRUE(kept_copies().empty());
  EXPECT_EQ(warnings.str(), "");
  expect_outside_untouched();
}

TEST_F(StateFileTest, AFailedCopyLeavesTheUnreadableFileInPlace) {
  dir.write("ws/s/state.json", "");
  store::Workspace failing(ws, &hook);
  failing.load_state<int>("s/state.json", parse);
  const auto saved = failing.save_state("s/state.json", "good", "写入 state 失败: ", warnings);
  ASSERT_FALSE(saved);
  EXPECT_TRUE(saved.error().starts_with("保留副本失败: " + (ws / "s/state.json.bad-").string()))
      << saved.error();
  EXPECT_TRUE(saved.error().ends_with("Z: No space left on device")) << saved.error();
  EXPECT_EQ(dir.read("ws/s/state.json"), "");
  EXPECT_EQ(warnings.str(), "");
}
