#pragma once

// A file system that lets a test watch every step that changes the disk, and
// fail it, or do anything else at that moment (end the process, send a
// signal, edit a file as another program would), before the step is passed on
// to the file system it wraps. Reading is passed on unwatched.

#include <functional>
#include <optional>
#include <string_view>

#include "files/file_system.hpp"

namespace testing_support {

// The steps by which the command changes the disk.
enum class FileStep {
  MakeDirectory,
  RemoveName,
  CreateFile,
  // The first piece of a new file's bytes is in.
  WriteHalf,
  SyncFileSystem,
  // Where the file system is not flushed whole: one file.
  SyncFile,
  Rename,
  SyncDirectory,
};

// "mkdir", "remove", "create", "write-half", "sync-fs", "sync-file", "rename",
// "sync-dir".
std::string_view step_name(FileStep step);

// The failure of a step that failed with the error number `error`, as the
// disk would give it: EINVAL and EILSEQ from a create refuse the name, EINVAL
// from a rename that must not replace is unsupported.
files::Error step_error(FileStep step, int error, bool keep_existing = false);

class FaultFileSystem final : public files::FileSystem {
 public:
  using Path = std::filesystem::path;
  // Called before `step` on `path` (the base joined with the relative path);
  // an error number makes the step fail with it.
  using Watch = std::function<std::optional<int>(FileStep step, const Path& path)>;

  FaultFileSystem(const files::FileSystem& inner, Watch watch)
      : inner_(inner), watch_(std::move(watch)) {}

  files::EntryKind kind(const Path& base, const Path& relative) const override {
    return inner_.kind(base, relative);
  }
  std::optional<files::FileIdentity> identity(const Path& base,
                                              const Path& relative) const override {
    return inner_.identity(base, relative);
  }
  std::expected<std::unique_ptr<files::ReadFile>, files::Error> open_read(
      const Path& base, const Path& relative) const override {
    return inner_.open_read(base, relative);
  }
  std::expected<std::vector<files::DirEntry>, files::Error> list(
      const Path& base, const Path& relative) const override {
    return inner_.list(base, relative);
  }
  std::expected<void, files::Error> create_directories(const Path& base,
                                                       const Path& relative) const override;
  std::expected<void, files::Error> create_file(const Path& base, const Path& relative,
                                                const files::Producer& produce) const override;
  std::expected<void, files::Error> remove(const Path& base, const Path& relative) const override;
  std::expected<void, files::Error> rename(const Path& base, const Path& from, const Path& to,
                                           bool keep_existing) const override;
  std::expected<void, files::Error> sync_file_system(const Path& base) const override;
  std::expected<void, files::Error> check_replaceable(const Path& base,
                                                      const Path& relative) const override {
    return inner_.check_replaceable(base, relative);
  }
  std::expected<void, files::Error> sync_file(const Path& base,
                                              const Path& relative) const override;
  std::expected<void, files::Error> sync_directory(const Path& base,
                                                   const Path& relative) const override;
  std::expected<std::unique_ptr<files::Lock>, files::Error> lock_directory(
      const Path& base, const Path& relative) const override {
    return inner_.lock_directory(base, relative);
  }
  std::optional<std::uint64_t> device(const Path& base) const override {
    return inner_.device(base);
  }
  std::expected<std::vector<files::DirEntry>, files::Error> list_records(
      const Path& dir) const override {
    return inner_.list_records(dir);
  }
  bool is_record_directory(const Path& path) const override {
    return inner_.is_record_directory(path);
  }
  std::expected<std::string, files::Error> read_record(
      const Path& path, files::Stamp* stamp = nullptr) const override {
    return inner_.read_record(path, stamp);
  }
  std::optional<files::Stamp> record_stamp(const Path& path) const override {
    return inner_.record_stamp(path);
  }
  bool keeps_times(const Path& dir) const override { return inner_.keeps_times(dir); }
  Path canonical(const Path& path) const override { return inner_.canonical(path); }

 private:
  // The watch's failure for the step, if it fails it.
  std::optional<files::Error> watch(FileStep step, const Path& path,
                                    bool keep_existing = false) const;

  const files::FileSystem& inner_;
  Watch watch_;
};

}  // namespace testing_support
