#pragma once

// The disk as a POSIX system shows it. Below a base, every path is walked one
// directory at a time without following links (openat with O_NOFOLLOW), so a
// link planted in a workspace can neither redirect a write nor feed a loaded
// file from elsewhere; record files are read through links.

#include "files/file_system.hpp"

namespace files {

// The disk; only the program's entry and the disk's own tests name it, and
// every other layer is handed a file system.
const FileSystem& disk();

// Tests derive from it to make one call misbehave or to fold case.
class DiskFileSystem : public FileSystem {
 public:
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
  std::expected<void, Error> sync_directory(const std::filesystem::path& base,
                                            const std::filesystem::path& relative) const override;
  std::expected<std::unique_ptr<Lock>, Error> lock_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override;
  std::optional<std::uint64_t> device(const std::filesystem::path& base) const override;
  std::expected<std::vector<DirEntry>, Error> list_records(
      const std::filesystem::path& dir) const override;
  bool is_record_directory(const std::filesystem::path& path) const override;
  std::expected<std::string, Error> read_record(const std::filesystem::path& path) const override;
};

}  // namespace files
