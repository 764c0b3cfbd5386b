#pragma once

// A file system that lets a test watch every step that changes the disk, and
// fail it, or do anything else at that moment (end the process, send a
// signal, edit a file as another program would), before the step is passed on
// to the file system it wraps. Reading is passed on unwatched.

#include <functional>
#include <optional>
#include <string_view>

#include "store/file_system.hpp"

namespace store {

// The steps by which the command changes the disk.
enum class FileStep {
  MakeDirectory,
  RemoveName,
  CreateFile,
  // The first piece of a new file's bytes is in.
  WriteHalf,
  SyncFileSystem,
  Rename,
  SyncDirectory,
};

// "mkdir", "remove", "create", "write-half", "sync-fs", "rename", "sync-dir".
std::string_view step_name(FileStep step);

class FaultFileSystem final : public FileSystem {
 public:
  // Called before `step` on `path` (the base joined with the relative path);
  // an error number makes the step fail with it.
  using Watch = std::function<std::optional<int>(FileStep step, const std::filesystem::path& path)>;

  FaultFileSystem(const FileSystem& inner, Watch watch) : inner_(inner), watch_(std::move(watch)) {}

  EntryKind kind(const std::filesystem::path& base,
                 const std::filesystem::path& relative) const override {
    return inner_.kind(base, relative);
  }
  std::optional<FileIdentity> identity(const std::filesystem::path& base,
                                       const std::filesystem::path& relative) const override {
    return inner_.identity(base, relative);
  }
  std::expected<fsx::UniqueFd, std::string> open_read(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return inner_.open_read(base, relative);
  }
  std::expected<std::vector<fsx::DirEntry>, std::string> list(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return inner_.list(base, relative);
  }
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
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return inner_.lock_directory(base, relative);
  }
  std::optional<std::uint64_t> device(const std::filesystem::path& base) const override {
    return inner_.device(base);
  }
  std::expected<std::vector<fsx::DirEntry>, std::string> list_records(
      const std::filesystem::path& dir) const override {
    return inner_.list_records(dir);
  }
  bool is_record_directory(const std::filesystem::path& path) const override {
    return inner_.is_record_directory(path);
  }
  std::expected<std::string, std::string> read_record(
      const std::filesystem::path& path) const override {
    return inner_.read_record(path);
  }

 private:
  // The watch's error for the step, as the system's text.
  std::optional<std::string> watch(FileStep step, const std::filesystem::path& path) const;
  // The same as the failure of a step that makes or renames a name.
  std::optional<StepFailure> watch_step(FileStep step, const std::filesystem::path& path) const;

  const FileSystem& inner_;
  Watch watch_;
};

}  // namespace store
