#pragma once

// The disk as a drive that folds case sees it (FAT, exFAT, the default disks
// of Windows and macOS), so that what a run does there is tested without
// mounting one: a name finds the entry whose case folding is the same, and a
// new entry keeps the spelling it was made with.

#include <filesystem>

#include "store/file_system.hpp"

namespace testing_support {

class FoldingFileSystem final : public store::DiskFileSystem {
 public:
  store::EntryKind kind(const std::filesystem::path& base,
                        const std::filesystem::path& relative) const override {
    return DiskFileSystem::kind(base, spelled(base, relative));
  }
  std::optional<store::FileIdentity> identity(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return DiskFileSystem::identity(base, spelled(base, relative));
  }
  std::expected<fsx::UniqueFd, std::string> open_read(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return DiskFileSystem::open_read(base, spelled(base, relative));
  }
  std::expected<std::vector<fsx::DirEntry>, std::string> list(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return DiskFileSystem::list(base, spelled(base, relative));
  }
  std::expected<void, store::StepFailure> create_directories(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return DiskFileSystem::create_directories(base, spelled(base, relative));
  }
  std::expected<void, store::StepFailure> create_file(
      const std::filesystem::path& base, const std::filesystem::path& relative,
      const store::Producer& produce) const override {
    return DiskFileSystem::create_file(base, spelled(base, relative), produce);
  }
  std::expected<void, std::string> remove(const std::filesystem::path& base,
                                          const std::filesystem::path& relative) const override {
    return DiskFileSystem::remove(base, spelled(base, relative));
  }
  std::expected<void, store::StepFailure> rename(const std::filesystem::path& base,
                                                 const std::filesystem::path& from,
                                                 const std::filesystem::path& to,
                                                 bool keep_existing) const override {
    return DiskFileSystem::rename(base, spelled(base, from), spelled(base, to), keep_existing);
  }
  std::expected<void, std::string> sync_directory(
      const std::filesystem::path& base, const std::filesystem::path& relative) const override {
    return DiskFileSystem::sync_directory(base, spelled(base, relative));
  }

 private:
  // `relative` with each component spelled as the entry it finds.
  static std::filesystem::path spelled(const std::filesystem::path& base,
                                       const std::filesystem::path& relative);
};

}  // namespace testing_support
