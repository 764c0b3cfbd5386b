#pragma once

// The one interface through which the command touches the disk: the store's
// own files below a directory used as given (the workspace root or the golden
// directory), where nothing passes through a symbolic link, and the journal's
// record files, which are read through links as the user laid them out. It
// names no type of one platform: an open file and a held lock are handles of
// its own, and a failure is the system's text with a kind where a caller
// branches on it. The disk face is the command's; tests use a face in memory
// and wrap either to fail, interrupt or kill a chosen step.

#include <compare>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace files {

// What a failure means where a caller decides by it; Other for the rest.
enum class ErrorKind {
  Other,
  // Nothing stands at the name.
  NotFound,
  // A symbolic link stands at the name or on the way.
  Link,
  // A FIFO, device, socket or directory stands where a regular file must.
  NotRegular,
  // Someone else holds the lock.
  Busy,
  // The file system refused the name itself, not the directory or the disk:
  // a character it cannot hold (EINVAL, EILSEQ; EPERM or ENOENT from a FUSE
  // FAT or exFAT driver whose directory takes a plain name).
  NameRefused,
  // The file system cannot do what was asked (a rename that must not
  // replace, on FAT through FUSE; locks, on some network shares).
  Unsupported,
};

// Why an operation failed: the system's text, as the user sees it.
struct Error {
  ErrorKind kind = ErrorKind::Other;
  std::string text;
};

// What stands at a path, looked at without following links. A path whose
// parent passes through a link counts as a link.
enum class EntryKind { Missing, Regular, Directory, Link, Other };

// Which file a loaded input was, to tell at the commit whether anyone
// replaced or changed it since.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_seconds = 0;
  std::int64_t modified_nanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

// A file's stat data, to tell without reading it that a record file is the
// one an earlier run read. The change time counts too: an edit that puts the
// modification time back (`touch -r`) still moves it on.
struct Stamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  // Nanoseconds since 1970.
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool directory = false;
  bool operator==(const Stamp&) const = default;
};

// The text shown when a file's bytes are not UTF-8.
inline constexpr std::string_view kNotUtf8 = "不是有效的 UTF-8 文本";

// The text shown when a path that must be a regular file is a FIFO, a device,
// a socket or a directory.
inline constexpr std::string_view kNotRegular = "不是普通文件";

// The largest record file read. A record is a note; a bigger file under a
// record's name is something else, and reading it whole could exhaust memory.
inline constexpr std::uint64_t kMaxRecordBytes = 16 * 1024 * 1024;

// The text shown for a file of `size` bytes over the limit of `max_bytes`.
std::string too_large_text(std::uint64_t size, std::uint64_t max_bytes);

// The name the command makes for a moment to ask a directory something (does
// it fold case, does it take a plain name, can it rename without replacing);
// one a killed run left is removed before it is made again.
inline constexpr std::string_view kProbeName = ".backfill-probe.tmp";

// One directory entry: its name as text (ill-formed UTF-8 replaced by U+FFFD)
// and the path to open it by.
struct DirEntry {
  std::string name;
  std::filesystem::path path;
};

// Receives a file's bytes piece by piece as they are made, so that a file of
// tens of megabytes never has to stand whole in memory.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void put(std::string_view bytes) = 0;
  // True when the sink wants nothing more: a producer may stop early.
  virtual bool full() const { return false; }
};

// Makes a file's bytes into a sink.
using Producer = std::function<void(ByteSink&)>;

// A regular file open for reading.
class ReadFile {
 public:
  virtual ~ReadFile() = default;
  // Up to `buffer.size()` bytes from where the last read stopped; 0 at the end.
  virtual std::expected<std::size_t, Error> read(std::span<char> buffer) = 0;
  // Which file it is, as it stands now.
  virtual std::optional<FileIdentity> identity() const = 0;
};

// A lock, held until the handle goes.
class Lock {
 public:
  virtual ~Lock() = default;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Below `base`, through no link. `relative` may not be absolute or climb
  // with "..".

  virtual EntryKind kind(const std::filesystem::path& base,
                         const std::filesystem::path& relative) const = 0;
  // The identity of the regular file at `relative`; nothing when none is there.
  virtual std::optional<FileIdentity> identity(const std::filesystem::path& base,
                                               const std::filesystem::path& relative) const = 0;
  // The regular file at `relative`, open for reading; opening never blocks.
  virtual std::expected<std::unique_ptr<ReadFile>, Error> open_read(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // The entries of the directory `relative`, sorted by name bytes; each
  // entry's path is relative to the base.
  virtual std::expected<std::vector<DirEntry>, Error> list(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // Creates the directory `relative` with its missing parents (and the base).
  virtual std::expected<void, Error> create_directories(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // Creates the file `relative`, which must not exist yet, and writes what
  // `produce` makes into it. No existing file is ever opened for writing.
  virtual std::expected<void, Error> create_file(const std::filesystem::path& base,
                                                 const std::filesystem::path& relative,
                                                 const Producer& produce) const = 0;
  // Removes the name `relative` (a file or a link, never what a link points
  // to nor another name of the same file).
  virtual std::expected<void, Error> remove(const std::filesystem::path& base,
                                            const std::filesystem::path& relative) const = 0;
  // Renames `from` over `to` in one step, both below `base`. With
  // `keep_existing`, a file already at `to` makes it fail instead (where the
  // file system cannot rename so: Unsupported).
  virtual std::expected<void, Error> rename(const std::filesystem::path& base,
                                            const std::filesystem::path& from,
                                            const std::filesystem::path& to,
                                            bool keep_existing) const = 0;
  // Flushes everything written on the file system that holds `base`; where
  // the system has no such flush, Unsupported, and the caller flushes each
  // file it wrote and each directory it wrote into instead.
  virtual std::expected<void, Error> sync_file_system(const std::filesystem::path& base) const = 0;
  // Whether the file at `relative`, if one stands there, can be renamed over
  // now: Busy when another program holds it open in a way that forbids it
  // (on Windows, without FILE_SHARE_DELETE), after waiting a moment for it.
  virtual std::expected<void, Error> check_replaceable(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // Flushes the bytes of the regular file `relative` (not its name: that is
  // its directory's).
  virtual std::expected<void, Error> sync_file(const std::filesystem::path& base,
                                               const std::filesystem::path& relative) const = 0;
  // Flushes the directory `relative` itself (its names).
  virtual std::expected<void, Error> sync_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // An exclusive lock on the directory `relative`, not waited for (Busy:
  // someone else holds it; Unsupported: the file system has no locks).
  virtual std::expected<std::unique_ptr<Lock>, Error> lock_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // The device that holds `base`, to tell whether two bases share a file system.
  virtual std::optional<std::uint64_t> device(const std::filesystem::path& base) const = 0;

  // The journal's record files, at paths as the user laid them out, links
  // followed.

  // The entries of `dir`, sorted by name bytes.
  virtual std::expected<std::vector<DirEntry>, Error> list_records(
      const std::filesystem::path& dir) const = 0;
  // The names list_records gives, in its order: a month's hundreds of files
  // need no path each.
  virtual std::expected<std::vector<std::string>, Error> list_record_names(
      const std::filesystem::path& dir) const;
  // Whether `path` is a directory.
  virtual bool is_record_directory(const std::filesystem::path& path) const = 0;
  // The content of the file at `path` when it is UTF-8 text; a FIFO, device or
  // other non-regular file gives `kNotRegular` without blocking, and one of
  // more than kMaxRecordBytes gives `too_large_text` unread. With `stamp`, the
  // stamp of the file read, taken from the open file.
  virtual std::expected<std::string, Error> read_record(const std::filesystem::path& path,
                                                        Stamp* stamp = nullptr) const = 0;
  // The stamp of the regular file or directory at `path`; nothing for
  // anything else or when it cannot be asked.
  virtual std::optional<Stamp> record_stamp(const std::filesystem::path& path) const = 0;
  // The stamps of the files `names` in the directory `dir`, each as
  // record_stamp tells it. A run with nothing to do takes a stamp of every
  // record: a face that can look into a directory once for all its names
  // saves a walk of the whole path for each.
  virtual std::vector<std::optional<Stamp>> record_stamps(
      const std::filesystem::path& dir, std::span<const std::string_view> names) const;
  // What stands at each of `names` in the directory `dir` below `base`, as
  // kind tells it, with its stamp when it is a regular file or a directory.
  virtual std::vector<std::pair<EntryKind, std::optional<Stamp>>> entry_stamps(
      const std::filesystem::path& base, const std::filesystem::path& dir,
      std::span<const std::string_view> names) const;

  // Anywhere.

  // Whether the file system holding `dir` moves a file's times on with every
  // write. FAT and exFAT keep coarse times and no change time, and a FUSE FAT
  // driver leaves the modification time of a file written in place as it was.
  virtual bool keeps_times(const std::filesystem::path& dir) const = 0;
  // `path` made absolute, with its links resolved as far as it exists.
  virtual std::filesystem::path canonical(const std::filesystem::path& path) const = 0;
};

}  // namespace files
