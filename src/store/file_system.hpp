#pragma once

// The one interface through which the command touches the disk: the store's
// own files below a directory used as given (the workspace root or the golden
// directory), where nothing passes through a symbolic link, and the journal's
// record files, which are read through links as the user laid them out. The
// disk implementation is the command's; tests wrap it to fail, interrupt or
// kill a chosen step. Errors are the operating system's text ("Too many
// levels of symbolic links" for a link).

#include <sys/types.h>

#include <compare>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/fs.hpp"

namespace store {

// What stands at a path, looked at without following links. A path whose
// parent passes through a link counts as a link.
enum class EntryKind { Missing, Regular, Directory, Link, Other };

// Which file a loaded state input was, to tell at the commit whether anyone
// replaced or changed it since.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_seconds = 0;
  std::int64_t modified_nanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the open file `fd`.
std::optional<FileIdentity> identity_of(int fd);

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

// Why a step that makes or renames a name failed.
struct StepFailure {
  // The system's text.
  std::string text;
  // The system's error number.
  int number = 0;
  // The file system refused the name itself, not the directory or the disk:
  // EINVAL or EILSEQ, or EPERM or ENOENT from a FUSE file system (whose FAT
  // and exFAT drivers answer so for a character FAT cannot hold) that takes a
  // plain name in the same directory.
  bool name_refused = false;
};

// The failure of a step that failed with the error number `error`; the name
// counts as refused for EINVAL and EILSEQ.
StepFailure step_failure(int error);

// The name the command makes for a moment to ask a directory something (does
// it fold case, does it take a plain name, can it rename without replacing);
// one a killed run left is removed before it is made again.
inline constexpr std::string_view kProbeName = ".backfill-probe.tmp";

// The largest record file read. A record is a note; a bigger file under a
// record's name is something else, and reading it whole could exhaust memory.
inline constexpr std::uint64_t kMaxRecordBytes = 16 * 1024 * 1024;

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
  virtual std::expected<fsx::UniqueFd, std::string> open_read(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // The entries of the directory `relative`, sorted by name bytes; each
  // entry's path is relative to the base.
  virtual std::expected<std::vector<fsx::DirEntry>, std::string> list(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // Creates the directory `relative` with its missing parents (and the base).
  virtual std::expected<void, StepFailure> create_directories(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // Creates the file `relative`, which must not exist yet, and writes what
  // `produce` makes into it. No existing file is ever opened for writing.
  virtual std::expected<void, StepFailure> create_file(const std::filesystem::path& base,
                                                       const std::filesystem::path& relative,
                                                       const Producer& produce) const = 0;
  // Removes the name `relative` (a file or a link, never what a link points
  // to nor another name of the same file).
  virtual std::expected<void, std::string> remove(const std::filesystem::path& base,
                                                  const std::filesystem::path& relative) const = 0;
  // Renames `from` over `to` in one step, both below `base`. With
  // `keep_existing`, a file already at `to` makes it fail instead (some file
  // systems refuse such a rename with EINVAL).
  virtual std::expected<void, StepFailure> rename(const std::filesystem::path& base,
                                                  const std::filesystem::path& from,
                                                  const std::filesystem::path& to,
                                                  bool keep_existing) const = 0;
  // Flushes everything written on the file system that holds `base`.
  virtual std::expected<void, std::string> sync_file_system(
      const std::filesystem::path& base) const = 0;
  // Flushes the directory `relative` itself (its names).
  virtual std::expected<void, std::string> sync_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // An exclusive, non-blocking lock on the directory `relative`, held while
  // the returned descriptor stays open; the error number when it cannot be had
  // (EWOULDBLOCK: someone else holds it).
  virtual std::expected<fsx::UniqueFd, int> lock_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const = 0;
  // The device that holds `base`, to tell whether two bases share a file system.
  virtual std::optional<std::uint64_t> device(const std::filesystem::path& base) const = 0;

  // The journal's record files, at paths as the user laid them out, links
  // followed.

  // The entries of `dir`, sorted by name bytes.
  virtual std::expected<std::vector<fsx::DirEntry>, std::string> list_records(
      const std::filesystem::path& dir) const = 0;
  // Whether `path` is a directory.
  virtual bool is_record_directory(const std::filesystem::path& path) const = 0;
  // The content of the file at `path` when it is UTF-8 text; a FIFO, device or
  // other non-regular file gives `fsx::kNotRegular` without blocking, and one
  // of more than kMaxRecordBytes gives `fsx::too_large_text` unread.
  virtual std::expected<std::string, std::string> read_record(
      const std::filesystem::path& path) const = 0;
};

// The disk as the system shows it. Tests derive from it to make one call
// misbehave.
class DiskFileSystem : public FileSystem {
 public:
  EntryKind kind(const std::filesystem::path& base,
                 const std::filesystem::path& relative) const override;
  std::optional<FileIdentity> identity(const std::filesystem::path& base,
                                       const std::filesystem::path& relative) const override;
  std::expected<fsx::UniqueFd, std::string> open_read(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<std::vector<fsx::DirEntry>, std::string> list(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<void, StepFailure> create_directories(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<void, StepFailure> create_file(const std::filesystem::path& base,
                                               const std::filesystem::path& relative,
                                               const Producer& produce) const override;
  std::expected<void, std::string> remove(const std::filesystem::path& base,
                                          const std::filesystem::path& relative) const override;
  std::expected<void, StepFailure> rename(const std::filesystem::path& base,
                                          const std::filesystem::path& from,
                                          const std::filesystem::path& to,
                                          bool keep_existing) const override;
  std::expected<void, std::string> sync_file_system(
      const std::filesystem::path& base) const override;
  std::expected<void, std::string> sync_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<fsx::UniqueFd, int> lock_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::optional<std::uint64_t> device(const std::filesystem::path& base) const override;
  std::expected<std::vector<fsx::DirEntry>, std::string> list_records(
      const std::filesystem::path& dir) const override;
  bool is_record_directory(const std::filesystem::path& path) const override;
  std::expected<std::string, std::string> read_record(
      const std::filesystem::path& path) const override;
};

// The disk, for everyone who is handed no other file system.
const FileSystem& disk();

}  // namespace store
