// One table of cases that the disk face and the face in memory must answer
// alike, so that a test run in memory says what a run on disk would do.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <memory>

#include "files/disk.hpp"
#include "files/path_text.hpp"
#include "files/reading.hpp"
#include "support/memory_file_system.hpp"
#include "support/temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

enum class Face { Disk, Memory };

class ContractTest : public ::testing::TestWithParam<Face> {
 protected:
  // The base below which each case works, and ways to lay out what the
  // command never makes itself: a link and a special file.
  const files::FileSystem& face() const {
    return GetParam() == Face::Disk ? static_cast<const files::FileSystem&>(disk_) : memory_;
  }
  fs::path base() const { return GetParam() == Face::Disk ? dir_.path() : fs::path("/base"); }
  void make_link(const fs::path& relative, const fs::path& target) {
    if (GetParam() == Face::Disk) {
      fs::create_symlink(target, base() / relative);
    } else {
      memory_.make_link(base() / relative, target);
    }
  }
  void make_special(const fs::path& relative) {
    if (GetParam() == Face::Disk) {
#if !defined(_WIN32)
      ASSERT_EQ(::mkfifo((base() / relative).c_str(), 0600), 0);
#endif
    } else {
      memory_.make_special(base() / relative);
    }
  }
  void create(const std::string& relative, std::string bytes) {
    ASSERT_TRUE(face().create_file(base(), files::utf8_path(relative),
                                   [&](files::ByteSink& sink) { sink.put(bytes); }));
  }
  // Whether the face's failure texts are Linux's; Windows words its own.
  bool linux_texts() const {
#if defined(_WIN32)
    return GetParam() == Face::Memory;
#else
    return true;
#endif
  }
  // A file of `size` NUL bytes; sparse on disk, so a large one costs no space.
  void make_sized(const std::string& relative, std::uintmax_t size) {
    if (GetParam() == Face::Disk) {
      create(relative, "");
      fs::resize_file(base() / relative, size);
    } else {
      memory_.write(base() / relative, std::string(size, '\0'));
    }
  }
  std::string read(const fs::path& relative) {
    auto file = face().open_read(base(), relative);
    if (!file) return "<" + file.error().text + ">";
    return files::read_all(**file).value_or("<unreadable>");
  }
  std::vector<std::string> names(const fs::path& relative) {
    std::vector<std::string> found;
    const auto listed = face().list(base(), relative);
    for (const auto& entry : listed.value()) found.push_back(entry.name);
    return found;
  }

  void SetUp() override {
    if (GetParam() == Face::Memory) memory_.make_directory(base());
  }

  testing_support::TempDir dir_;
  // Linux's own calls whatever BACKFILL_PORTABLE_FALLBACKS says: the face in
  // memory renames without replacing as they do.
  files::DiskFileSystem disk_{files::Fallbacks::WhereNeeded};
  testing_support::MemoryFileSystem memory_;
};

}  // namespace

TEST_P(ContractTest, ListsByNameBytesAndNeverOpensAnExistingNameToWrite) {
  ASSERT_TRUE(face().create_directories(base(), "d/e"));
#if defined(_WIN32)
  // Windows takes "B" for "b"; another capital sorts first all the same.
  const std::string capital = "C";
#else
  const std::string capital = "B";
#endif
  for (const std::string& name :
       {std::string("d/b"), std::string("d/中"), "d/" + capital, std::string("d/a")}) {
    create(name, name);
  }
  EXPECT_EQ(names("d"), (std::vector<std::string>{capital, "a", "b", "e", "中"}));
  // A name that is not UTF-8 is listed with U+FFFD, beside one that is that
  // text already, by both listings alike.
#if !defined(_WIN32)
  if (GetParam() == Face::Disk) {
    create("d/x\xFF.md", "");
    create("d/x\xEF\xBF\xBD.md", "");
  }
#endif
  std::vector<std::string> records;
  const auto listed = face().list_records(base() / "d");
  for (const auto& entry : listed.value()) records.push_back(entry.name);
  EXPECT_EQ(face().list_record_names(base() / "d").value(), records);
  EXPECT_FALSE(face().list_record_names(base() / "none").has_value());
  const auto again =
      face().create_file(base(), "d/a", [](files::ByteSink& sink) { sink.put("x"); });
  ASSERT_FALSE(again);
  if (linux_texts()) {
    EXPECT_EQ(again.error().text, "File exists");
  }
  EXPECT_EQ(read("d/a"), "d/a");
  EXPECT_EQ(face().kind(base(), "d/e"), files::EntryKind::Directory);
  EXPECT_EQ(face().kind(base(), "d/none"), files::EntryKind::Missing);
  EXPECT_EQ(face().open_read(base(), "d/none").error().kind, files::ErrorKind::NotFound);
}

TEST_P(ContractTest, RenamesOverATargetUnlessTheTargetMustBeKept) {
  create("old", "old");
  create("new", "new");
  const auto kept = face().rename(base(), "new", "old", true);
  ASSERT_FALSE(kept);
  if (linux_texts()) {
    EXPECT_EQ(kept.error().text, "File exists");
  }
  EXPECT_EQ(read("old"), "old");
  const auto before = face().identity(base(), "old");
  ASSERT_TRUE(face().rename(base(), "new", "old", false));
  EXPECT_EQ(read("old"), "new");
  EXPECT_EQ(face().kind(base(), "new"), files::EntryKind::Missing);
  // A file written anew is another file, whatever its size and time.
  EXPECT_NE(face().identity(base(), "old"), before);
  ASSERT_TRUE(face().rename(base(), "old", "free", true));
  EXPECT_EQ(read("free"), "new");
  EXPECT_EQ(face().remove(base(), "old").error().kind, files::ErrorKind::NotFound);
}

// The disk's cases that need what wine cannot make.
#if defined(_WIN32)
#define SKIP_ON_WINDOWS_DISK(why) \
  if (GetParam() == Face::Disk) GTEST_SKIP() << why
#else
#define SKIP_ON_WINDOWS_DISK(why)
#endif

TEST_P(ContractTest, RefusesLinksBelowTheBaseAndReadsRecordsThroughThem) {
  SKIP_ON_WINDOWS_DISK("wine makes no symbolic links or junctions");
  ASSERT_TRUE(face().create_directories(base(), "real"));
  create("real/r.md", "record");
  make_link("linked", base() / "real");
  make_link("file-link", base() / "real/r.md");
  const std::string loop = "Too many levels of symbolic links";
  EXPECT_EQ(face().kind(base(), "linked"), files::EntryKind::Link);
  EXPECT_EQ(face().kind(base(), "linked/r.md"), files::EntryKind::Link);
  EXPECT_EQ(read("file-link"), "<" + loop + ">");
  EXPECT_EQ(read("linked/r.md"), "<" + loop + ">");
  EXPECT_EQ(face().list(base(), "linked").error().kind, files::ErrorKind::Link);
  const auto made = face().create_file(base(), "linked/x", [](files::ByteSink&) {});
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error().text, loop);
  EXPECT_EQ(face().create_directories(base(), "linked/sub").error().text, loop);
  // Records are the user's, laid out as the user likes.
  EXPECT_EQ(face().read_record(base() / "linked/r.md").value(), "record");
  EXPECT_TRUE(face().is_record_directory(base() / "linked"));
  ASSERT_TRUE(face().list_records(base() / "linked"));
  EXPECT_EQ(face().list_records(base() / "linked")->front().path, base() / "linked/r.md");

  // Stamps asked a directory at a time answer as stamps asked one by one.
  const std::vector<std::string_view> names{"r.md", "missing", "file-link", "linked", "real"};
  for (const fs::path dir : {"", "real", "linked"}) {
    const auto entries = face().entry_stamps(base(), dir, names);
    const auto records = face().record_stamps(base() / dir, names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      const auto relative = dir / files::utf8_path(names[i]);
      const auto kind = face().kind(base(), relative);
      SCOPED_TRACE(files::path_text(relative));
      EXPECT_EQ(entries[i].first, kind);
      EXPECT_EQ(entries[i].second.has_value(),
                kind == files::EntryKind::Regular || kind == files::EntryKind::Directory);
      if (entries[i].second) {
        EXPECT_EQ(entries[i].second, face().record_stamp(base() / relative));
      }
      EXPECT_EQ(records[i], face().record_stamp(base() / relative));
    }
  }
}

TEST_P(ContractTest, NeverReadsWhatIsNotARegularFile) {
  SKIP_ON_WINDOWS_DISK("wine makes no FIFOs");
  make_special("fifo");
  ASSERT_TRUE(face().create_directories(base(), "dir"));
  for (const char* name : {"fifo", "dir"}) {
    EXPECT_EQ(face().read_record(base() / name).error().text, files::kNotRegular) << name;
    EXPECT_EQ(face().open_read(base(), name).error().kind, files::ErrorKind::NotRegular) << name;
  }
  EXPECT_EQ(face().kind(base(), "fifo"), files::EntryKind::Other);
  EXPECT_FALSE(face().identity(base(), "fifo"));
}

TEST_P(ContractTest, ReadsARecordOfAtMostTheSizeLimit) {
  make_sized("exact.md", files::kMaxRecordBytes);
  make_sized("big.md", files::kMaxRecordBytes + 1);
  EXPECT_EQ(face().read_record(base() / "exact.md").value().size(), files::kMaxRecordBytes);
  EXPECT_EQ(face().read_record(base() / "big.md").error().text,
            "文件过大（16777217 字节，上限 16 MiB）");
}

TEST_P(ContractTest, ALockIsHeldUntilItsHandleGoes) {
  ASSERT_TRUE(face().create_directories(base(), ".system"));
  auto held = face().lock_directory(base(), ".system");
  ASSERT_TRUE(held);
  EXPECT_EQ(face().lock_directory(base(), ".system").error().kind, files::ErrorKind::Busy);
  held->reset();
  EXPECT_TRUE(face().lock_directory(base(), ".system"));
}

INSTANTIATE_TEST_SUITE_P(Faces, ContractTest, ::testing::Values(Face::Disk, Face::Memory),
                         [](const auto& info) {
                           return info.param == Face::Disk ? std::string("Disk")
                                                           : std::string("Memory");
                         });

TEST(MemoryFaceTest, FoldsCaseWhenToldAndKeepsTheSpellingANameWasMadeWith) {
  testing_support::MemoryFileSystem fat(true);
  fat.make_directory("/ws");
  ASSERT_TRUE(fat.create_file("/ws", "Work.md", [](files::ByteSink& s) { s.put("W"); }));
  EXPECT_FALSE(fat.create_file("/ws", "work.md", [](files::ByteSink&) {}));
  EXPECT_EQ(fat.kind("/ws", "WORK.MD"), files::EntryKind::Regular);
  ASSERT_TRUE(fat.create_file("/ws", "work.md.tmp", [](files::ByteSink& s) { s.put("w"); }));
  ASSERT_TRUE(fat.rename("/ws", "work.md.tmp", "work.md", false));
  EXPECT_EQ(fat.listing("/ws"), std::vector<std::string>{"work.md"});
  EXPECT_EQ(fat.read("/ws/WORK.md"), "w");
}
