#pragma once

// The disk as a FAT drive mounted through FUSE shows it, so that what a run
// does there is tested without a mount: a name finds the entry whose case
// folding is the same (a new entry keeps the spelling it was made with); a
// character FAT cannot hold, and a rename that must not replace, are refused
// with EINVAL.

#include "files/disk.hpp"

namespace testing_support {

class FatFace final : public files::DiskFileSystem {
 public:
  using Path = std::filesystem::path;

  files::EntryKind kind(const Path& base, const Path& relative) const override {
    return DiskFileSystem::kind(base, spelled(base, relative));
  }
  std::expected<std::unique_ptr<files::ReadFile>, files::Error> open_read(
      const Path& base, const Path& relative) const override {
    return DiskFileSystem::open_read(base, spelled(base, relative));
  }
  std::expected<void, files::Error> remove(const Path& base, const Path& relative) const override {
    return DiskFileSystem::remove(base, spelled(base, relative));
  }
  std::expected<void, files::Error> create_file(const Path& base, const Path& relative,
                                                const files::Producer& produce) const override;
  std::expected<void, files::Error> rename(const Path& base, const Path& from, const Path& to,
                                           bool keep_existing) const override;
  bool keeps_times(const Path&) const override { return false; }

 private:
  // `relative` with each component spelled as the entry it finds.
  static Path spelled(const Path& base, const Path& relative);
};

}  // namespace testing_support
