#include "cache/record_cache.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>

#include <fmt/format.h>

#include "support/memory_file_system.hpp"

namespace {

namespace fs = std::filesystem;

files::Producer producer(std::string bytes) {
  return [bytes = std::move(bytes)](files::ByteSink& sink) { sink.put(bytes); };
}

class RecordCacheTest : public ::testing::Test {
 protected:
  RecordCacheTest() {
    memory.write("/ws/2026/07/2026-07-01-a.md",
                 "## 09:00\n动2 专3\n分类：工作\n相对路径：x\\项目A\\y\n");
    memory.write("/ws/2026/07/2026-07-02-b.md", "## 10:00\n正文\n");
    memory.write("/ws/2026/07/2026-07-03-notes.md", "no heading\n");
    memory.write("/ws/2026/07/2026-07-04-bad.md", "\xff");
  }
  journal::Scan scan(const journal::KnownRecords* known = nullptr) {
    auto scanned = journal::scan_journal("/ws", err, memory, {known, true});
    EXPECT_TRUE(scanned.has_value());
    return std::move(*scanned);
  }
  testing_support::MemoryFileSystem memory;
  std::ostringstream err;
};

TEST_F(RecordCacheTest, ARecordIsTakenWhileItsStampHoldsAndReadOnceItMoves) {
  const auto first = scan();
  EXPECT_EQ(first.read_count, 4u);
  // The unreadable file is not known: it is read, and warned of, every time.
  ASSERT_EQ(first.remembered.size(), 3u);
  const auto contents = cache::decode(cache::encode(first));
  ASSERT_TRUE(contents.has_value());
  const auto* known = &*contents;

  const auto second = scan(known);
  EXPECT_EQ(second.read_count, 1u);
  EXPECT_EQ(second.records, first.records);
  // A stamp taken too close to a change is not trusted.
  auto racy = first;
  racy.remembered[1].racy = true;
  const auto distrusted = cache::decode(cache::encode(racy));
  EXPECT_EQ(scan(&*distrusted).read_count, 2u);

  memory.write("/ws/2026/07/2026-07-02-b.md", "## 11:00\n正文\n");
  memory.write("/ws/2026/07/2026-07-03-notes.md", "## 12:00\n");
  const auto third = scan(known);
  EXPECT_EQ(third.read_count, 3u);

  ASSERT_EQ(third.records.size(), 3u);
  EXPECT_EQ(third.records[1].time, "11:00");
  EXPECT_EQ(third.records[2].time, "12:00");

  // A kept record that does not decode as the scan leaves records (here a
  // date that is not its file name's) is read from its file, not dropped.
  auto odd = third;
  odd.records[0].date = "2026-07-09";
  const auto damaged = cache::decode(cache::encode(odd));
  ASSERT_TRUE(damaged.has_value());
  const auto fourth = scan(&*damaged);
  EXPECT_EQ(fourth.read_count, 2u);
  EXPECT_EQ(fourth.records, third.records);
}

// A run whose key holds but for record files whose stamps moved, or could
// not be trusted, does nothing only when each of them, read again, gives the
// record the cache holds.
TEST_F(RecordCacheTest, MovedStampsAreReadAndOnlyTheSameRecordsKeepTheKey) {
  const fs::path a = "/ws/2026/07/2026-07-01-a.md";
  std::string text = "## 09:00\n动2 专3\n";
  for (int i = 0; i < 60; ++i) text += "长";
  text += "\n分类：工作\n相对路径：x\\项目A\\y\n";
  struct Case {
    const char* what;
    std::optional<std::string> now;
    bool racy;
    bool read;
    bool same;
  };
  const Case cases[] = {
      {"untouched", std::nullopt, false, false, true},
      {"untouched, its stamp not trusted", std::nullopt, true, true, true},
      {"saved again as it was", text, false, true, true},
      {"more text past the snippet", text + "还有\n", false, true, true},
      {"a second goal line", text + "分类：别的\n", false, true, true},
      {"a new topic path", text + "相对路径：x\\项目B\\y\n", false, true, false},
      {"a new time", "## 10:00" + text.substr(8), false, true, false},
      {"no time heading", "正文\n", false, true, false},
  };
  const auto file = cache::CacheFile::of(memory, "/ws", "/cache");
  ASSERT_TRUE(file.has_value());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    memory.write(a, text);
    auto scanned = scan();
    scanned.remembered[0].racy = c.racy;
    const cache::RunKey key{"ws", {}, {}};
    ASSERT_TRUE(file->save(producer(cache::encode(scanned, &key))));
    if (c.now) memory.write(a, *c.now);
    const auto verdict = cache::nothing_changed(memory, "/ws", *file->load(false));
    ASSERT_TRUE(verdict.same);
    EXPECT_EQ(verdict.to_read, c.read ? std::vector<std::string>{"2026/07/2026-07-01-a.md"}
                                      : std::vector<std::string>{});
    EXPECT_EQ(cache::reads_the_same(memory, "/ws", *file->load(true), verdict.to_read), c.same);
  }
}

// A file changed too recently to trust its stamp is kept, flagged, for a run
// with nothing to do to compare; a workspace just copied is not kept at all.
TEST_F(RecordCacheTest, FilesChangedTooRecentlyAreKeptFlaggedOnlyWhenFew) {
  const auto racy = [](const journal::Scan& scan) {
    return std::ranges::count_if(scan.remembered, &journal::RememberedFile::racy);
  };
  memory.set_clock(std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count());
  memory.write("/ws/2026/07/2026-07-05-c.md", "## 11:00\n");
  const auto few = scan();
  EXPECT_EQ(few.remembered.size(), 4u);
  EXPECT_EQ(racy(few), 1);
  for (std::size_t i = 0; i < journal::kMostRacyKept; ++i) {
    memory.write(fmt::format("/ws/2026/07/2026-07-06-{}.md", i), "## 12:00\n");
  }
  const auto many = scan();
  EXPECT_EQ(many.remembered.size(), 3u);
  EXPECT_EQ(racy(many), 0);
}

TEST_F(RecordCacheTest, AnyDamageMakesTheWholeCacheUnusable) {
  cache::RunKey key{"ws", {{false, "out\n"}, {true, "err\n"}}, {}};
  key.seen = cache::look_again(memory, {{cache::Look::Record, "/ws/2026", ""},
                                        {cache::Look::Entry, "/ws", ".system/graph.json"},
                                        {cache::Look::Entry, "/ws", "2026/07/2026-07-01-a.md"}});
  const std::string bytes = cache::encode(scan(), &key);
  ASSERT_TRUE(cache::decode(bytes).has_value());
  EXPECT_EQ(cache::decode(bytes)->key, key);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(cache::decode(bytes.substr(0, size)).has_value()) << "cut at " << size;
  }
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    auto flipped = bytes;
    flipped[at] ^= 0x01;
    EXPECT_FALSE(cache::decode(flipped).has_value()) << "flipped at " << at;
  }
  EXPECT_FALSE(cache::decode(bytes + "x").has_value());
}

TEST_F(RecordCacheTest, TheCacheFileIsDisposable) {
  const fs::path dir = "/home/u/.cache/backfill-workspace";
  const auto file = cache::CacheFile::of(memory, "/ws", dir);
  ASSERT_TRUE(file.has_value());
  EXPECT_FALSE(file->load().has_value());
  ASSERT_TRUE(file->save(producer(cache::encode(scan()))));
  EXPECT_TRUE(file->load().has_value());
  const auto listed = memory.listing(dir);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_TRUE(listed[0].starts_with("ws-") && listed[0].ends_with(".cache")) << listed[0];

  // A leftover temporary is replaced; what stands at the name unreadable is
  // no cache, and one that cannot be written is none either.
  memory.write(dir / (listed[0] + ".tmp"), "left by a killed run");
  EXPECT_TRUE(file->save(producer(cache::encode(scan()))));
  EXPECT_EQ(memory.listing(dir), listed);
  memory.write(dir / listed[0], "BFWCACHE");
  EXPECT_FALSE(file->load().has_value());
  memory.fail_with([](auto call, const fs::path&) -> std::optional<files::Error> {
    if (call != testing_support::MemoryFileSystem::Call::CreateFile) return std::nullopt;
    return files::Error{files::ErrorKind::Other, "read-only"};
  });
  EXPECT_FALSE(file->save(producer(cache::encode(scan()))));

  // None where times cannot be trusted.
  memory.drop_times();
  EXPECT_FALSE(cache::CacheFile::of(memory, "/ws", dir).has_value());
}

}  // namespace
