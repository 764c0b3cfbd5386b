#pragma once

// The disk as a POSIX system shows it. Below a base, every path is walked one
// directory at a time without following links (openat with O_NOFOLLOW), so a
// link planted in a workspace can neither redirect a write nor feed a loaded
// file from elsewhere; record files are read through links.

#include "files/file_system.hpp"

namespace files {

// The disk; only the program's entry and the disk's own tests name it, and
// every other layer is handed a file system. Its fallbacks are as
// default_fallbacks() says.
const FileSystem& disk();

// Where the disk face does without Linux's own calls (syncfs, renameat2 with
// RENAME_NOREPLACE): it reports the flush of a whole file system and the rename
// that must not replace as Unsupported, and the writer flushes file by file
// and makes kept copies in place, as on a FAT drive.
enum class Fallbacks {
  // Only where the system lacks the calls: everywhere but on Linux.
  WhereNeeded,
  // On Linux too, so that what other systems run is tested there.
  Always,
};

// Always when BACKFILL_PORTABLE_FALLBACKS=1 was set at start, else WhereNeeded.
Fallbacks default_fallbacks();

// Tests derive from it to make one call misbehave or to fold case.
class DiskFileSystem : public FileSystem {
 public:
  explicit DiskFileSystem(Fallbacks fallbacks = default_fallbacks());

  EntryKind kind(const std::filesystem::path& base,
                 const std::filesystem::path& relative) const override;
  std::optional<FileIdentity> identity(const std::filesystem::path& base,
                                       const std::filesystem::path& relative) const override;
  std::expected<std::unique_ptr<ReadFile>, Error> open_read(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<std::vector<DirEntry>, Error> list(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<void, Error> create_directories(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<void, Error> create_file(const std::filesystem::path& base,
                                         const std::filesystem::path& relative,
                                         const Producer& produce) const override;
  std::expected<void, Error> remove(const std::filesystem::path& base,
                                    const std::filesystem::path& relative) const override;
  std::expected<void, Error> rename(const std::filesystem::path& base,
                                    const std::filesystem::path& from,
                                    const std::filesystem::path& to,
                                    bool keep_existing) const override;
  std::expected<void, Error> sync_file_system(const std::filesystem::path& base) const override;
  std::expected<void, Error> check_replaceable(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::expected<void, Error> sync_file(const std::filesystem::path& base,
                                       const std::filesystem::path& relative) const override;
  std::expected<void, Error> sync_directory(const std::filesystem::path& base,
                                            const std::filesystem::path& relative) const override;
  std::expected<std::unique_ptr<Lock>, Error> lock_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::optional<std::uint64_t> device(const std::filesystem::path& base) const override;
  std::expected<std::vector<DirEntry>, Error> list_records(
      const std::filesystem::path& dir) const override;
  bool is_record_directory(const std::filesystem::path& path) const override;
  std::expected<std::string, Error> read_record(const std::filesystem::path& path,
                                                Stamp* stamp = nullptr) const override;
  std::optional<Stamp> record_stamp(const std::filesystem::path& path) const override;
#if !defined(_WIN32)
  std::expected<std::vector<std::string>, Error> list_record_names(
      const std::filesystem::path& dir) const override;
  std::vector<std::optional<Stamp>> record_stamps(
      const std::filesystem::path& dir, std::span<const std::string_view> names) const override;
  std::vector<std::pair<EntryKind, std::optional<Stamp>>> entry_stamps(
      const std::filesystem::path& base, const std::filesystem::path& dir,
      std::span<const std::string_view> names) const override;
#endif
  bool keeps_times(const std::filesystem::path& dir) const override;
  std::filesystem::path canonical(const std::filesystem::path& path) const override;

 private:
  // Whether Linux's own calls are made.
  bool linux_calls_;
};

}  // namespace files
