#include "cache/record_cache.hpp"

#include <gtest/gtest.h>

#include <sstream>

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
