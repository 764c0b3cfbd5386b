#pragma once

// A file system held in memory, for tests whose subject is files in and files
// out rather than the disk: paths to bytes, directories, symbolic links and
// special entries where a test lays them, identities that change on every
// write, a way to fail any call, and, when asked, names that fold case as FAT
// and Windows fold them. It answers as the disk face does, texts included:
// the contract tests hold both to the same cases.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "files/file_system.hpp"

namespace testing_support {

class MemoryFileSystem final : public files::FileSystem {
 public:
  using Path = std::filesystem::path;

  // The calls a test can fail.
  enum class Call {
    Kind,
    Identity,
    OpenRead,
    List,
    CreateDirectories,
    CreateFile,
    Remove,
    Rename,
    CheckReplaceable,
    SyncFileSystem,
    SyncFile,
    SyncDirectory,
    Lock,
    ListRecords,
    ReadRecord,
  };
  // Asked before each call with its path (the base joined with the relative
  // path); an error makes the call fail with it. For a call that returns no
  // error (kind, identity, device, is_record_directory) it is not asked.
  using Fail = std::function<std::optional<files::Error>(Call call, const Path& path)>;

  // With `folds_case`, a name finds an entry whose Unicode case folding is the
  // same, and a new entry keeps the spelling it was made with.
  explicit MemoryFileSystem(bool folds_case = false) : folds_case_(folds_case) {}

  // Laying out a tree, at paths as given (absolute or relative to nothing);
  // missing parents are made. A path given as text is UTF-8.
  void write(const Path& path, std::string bytes);
  void write(const std::string& path, std::string bytes);
  void write(const char* path, std::string bytes) { write(std::string(path), std::move(bytes)); }
  void make_directory(const Path& path);
  void make_link(const Path& path, const Path& target);
  // A FIFO, device or socket: it never reads.
  void make_special(const Path& path);
  void fail_with(Fail fail) { fail_ = std::move(fail); }

  // Looking at it: the bytes of the regular file at `path`, and every path
  // below `dir` (directories with a trailing "/"), relative to it, sorted.
  std::optional<std::string> read(const Path& path) const;
  std::optional<std::string> read(const std::string& path) const;
  std::optional<std::string> read(const char* path) const { return read(std::string(path)); }
  std::vector<std::string> listing(const Path& dir) const;

  files::EntryKind kind(const Path& base, const Path& relative) const override;
  std::optional<files::FileIdentity> identity(const Path& base,
                                              const Path& relative) const override;
  std::expected<std::unique_ptr<files::ReadFile>, files::Error> open_read(
      const Path& base, const Path& relative) const override;
  std::expected<std::vector<files::DirEntry>, files::Error> list(
      const Path& base, const Path& relative) const override;
  std::expected<void, files::Error> create_directories(const Path& base,
                                                       const Path& relative) const override;
  std::expected<void, files::Error> create_file(const Path& base, const Path& relative,
                                                const files::Producer& produce) const override;
  std::expected<void, files::Error> remove(const Path& base, const Path& relative) const override;
  std::expected<void, files::Error> rename(const Path& base, const Path& from, const Path& to,
                                           bool keep_existing) const override;
  std::expected<void, files::Error> sync_file_system(const Path& base) const override;
  std::expected<void, files::Error> check_replaceable(const Path& base,
                                                      const Path& relative) const override;
  std::expected<void, files::Error> sync_file(const Path& base,
                                              const Path& relative) const override;
  std::expected<void, files::Error> sync_directory(const Path& base,
                                                   const Path& relative) const override;
  std::expected<std::unique_ptr<files::Lock>, files::Error> lock_directory(
      const Path& base, const Path& relative) const override;
  std::optional<std::uint64_t> device(const Path& base) const override;
  std::expected<std::vector<files::DirEntry>, files::Error> list_records(
      const Path& dir) const override;
  bool is_record_directory(const Path& path) const override;
  std::expected<std::string, files::Error> read_record(
      const Path& path, files::Stamp* stamp = nullptr) const override;
  std::optional<files::Stamp> record_stamp(const Path& path) const override;
  bool keeps_times(const Path&) const override { return keeps_times_; }
  Path canonical(const Path& path) const override { return path.lexically_normal(); }
  // As a FAT or FUSE drive: times that cannot be trusted.
  void drop_times() { keeps_times_ = false; }
  // Files written from now on are modified at `nanoseconds` since 1970 and
  // after (each write moves the clock on by one).
  void set_clock(std::int64_t nanoseconds) { clock_ = nanoseconds; }

 private:
  enum class Type { File, Directory, Link, Special };
  struct Node {
    Type type = Type::File;
    std::shared_ptr<const std::string> bytes = {};
    Path target = {};
    std::uint64_t inode = 0;
    std::int64_t modified = 0;
  };

  // The key of `path` as stored: its normal form, each name spelled as the
  // entry it finds when names fold case.
  std::string key_of(const Path& path) const;
  // `base` joined with `relative`, walked through no link below the base.
  std::expected<std::string, files::Error> below(const Path& base, const Path& relative) const;
  // `path` with every link on the way followed.
  std::string resolved(const Path& path, int hops = 0) const;
  const Node* find(const std::string& key) const;
  Node& add(const std::string& key, Node node) const;
  std::optional<files::Error> failed(Call call, const Path& path) const;
  std::vector<std::string> children(const std::string& key) const;

  bool folds_case_;
  bool keeps_times_ = true;
  Fail fail_;
  mutable std::map<std::string, Node> nodes_;
  mutable std::uint64_t next_inode_ = 1;
  mutable std::int64_t clock_ = 1;
  mutable std::shared_ptr<std::set<std::string>> locks_ = std::make_shared<std::set<std::string>>();
};

}  // namespace testing_support
