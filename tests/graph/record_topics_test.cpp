#include "graph/record_topics.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "support/memory_file_system.hpp"
#include "support/output_files.hpp"

using namespace graph;
using journal::JournalEntry;

namespace {

const std::filesystem::path kRoot = "/ws";
const std::filesystem::path kFile = ".system/record_topics.json";

JournalEntry record(std::string file_name, std::vector<std::string> topics) {
  JournalEntry e;
  e.file_name = std::move(file_name);
  e.topics = std::move(topics);
  return e;
}

class RecordTopicsTest : public ::testing::Test {
 protected:
  RecordTopicsTest() { memory.make_directory(kRoot); }
  void write(const std::string& text) { memory.write(kRoot / kFile, text); }
  std::string content() const { return memory.read(kRoot / kFile).value_or("<missing>"); }

  // The stage as a run calls it, on the map as loaded; the file it returns is
  // put where the next run finds it. Tells whether it returned one.
  bool rewrites(const std::vector<JournalEntry>& records) {
    store::Workspace run(kRoot, memory);
    const auto file = record_topics_file(load_record_topics(run), records);
    if (file) memory.write(kRoot / file->path, testing_support::bytes_of(*file));
    return file.has_value();
  }

  // A fresh workspace per call, as each run of the command has.
  store::Workspace& workspace() { return workspaces.emplace_back(kRoot, memory); }

  testing_support::MemoryFileSystem memory;
  std::deque<store::Workspace> workspaces;
};

}  // namespace

TEST_F(RecordTopicsTest, LoadTakesTheLaterOfTwoEqualKeysAndRefusesAnyFlaw) {
  write(" {\"b.md\": [\"x\"], \"a.md\": [], \"b.md\": [\"y\", \"z\"]}\r\n");
  EXPECT_EQ(load_record_topics(workspace()), (RecordTopics{{"a.md", {}}, {"b.md", {"y", "z"}}}));

  for (const std::string& text :
       {std::string("\xEF\xBB\xBF{}"), std::string("{\"a.md\": [\"\xC3\"]}"), std::string("[]"),
        std::string("{\"a.md\": []} {}"), std::string("{\"a.md\": \"x\"}"),
        std::string("{\"a.md\": [1]}"), std::string("{\"a.md\": [[\"x\"]]}"),
        std::string("{\"a.md\": [\"x\"], \"a.md\": null}"), std::string(100000, '[')}) {
    write(text);
    EXPECT_TRUE(load_record_topics(workspace()).empty()) << text.substr(0, 40);
  }
}

TEST_F(RecordTopicsTest, WritesEntriesInByteOrderKeepingOtherEntries) {
  // No record with topics: no file at all.
  EXPECT_FALSE(rewrites({record("a.md", {})}));
  EXPECT_EQ(memory.kind(kRoot, kFile), files::EntryKind::Missing);

  write(R"({"old.md": ["旧"], "2026-07-10-b.md": ["x"]})");
  ASSERT_TRUE(rewrites({record("2026-07-10-b.md", {"乙", "甲"}),
                        record("2026-07-03-a.md", {"项目 A"}), record("2026-07-04-c.md", {})}));
  EXPECT_EQ(content(),
            "{\n  \"2026-07-03-a.md\": [\n    \"项目 A\"\n  ],\n"
            "  \"2026-07-10-b.md\": [\n    \"乙\",\n    \"甲\"\n  ],\n"
            "  \"old.md\": [\n    \"旧\"\n  ]\n}");
}

TEST_F(RecordTopicsTest, RewritesOnlyWhenTheContentChanges) {
  const std::vector<JournalEntry> records = {record("a.md", {"甲", "乙"}), record("b.md", {"丙"})};
  ASSERT_TRUE(rewrites(records));
  EXPECT_FALSE(rewrites(records));
  // Records sharing a file name flip the entry and back: the file is written as
  // record by record would, and the later list stays.
  EXPECT_TRUE(rewrites({record("b.md", {"丁"}), record("b.md", {"丙"})}));
  EXPECT_EQ(load_record_topics(workspace()),
            (RecordTopics{{"a.md", {"甲", "乙"}}, {"b.md", {"丙"}}}));
  // Order matters.
  EXPECT_TRUE(rewrites({record("a.md", {"乙", "甲"})}));
  EXPECT_EQ(load_record_topics(workspace()),
            (RecordTopics{{"a.md", {"乙", "甲"}}, {"b.md", {"丙"}}}));
  // A corrupt file holds nothing to keep.
  write("{\"old.md\": [\"旧\"]");
  ASSERT_TRUE(rewrites({record("a.md", {"甲"})}));
  EXPECT_EQ(load_record_topics(workspace()), (RecordTopics{{"a.md", {"甲"}}}));
}
