#pragma once

// The disk as a FAT drive mounted through FUSE shows it, so that what a run
// does there is tested without a mount: a name finds the entry whose case
// folding is the same (a new entry keeps the spelling it was made with); a
// character FAT cannot hold, and a rename that must not replace, are refused
// with EINVAL.

#include "store/file_system.hpp"

namespace testing_support {

class FatFace final : public store::DiskFileSystem {
 public:
  using Path = std::filesystem::path;

  store::EntryKind kind(const Path& base, const Path& relative) const override {
    return DiskFileSystem::kind(base, spelled(base, relative));
  }
  std::expected<fsx::UniqueFd, std::string> open_read(const Path& base,
                                                      const Path& relative) const override {
    return DiskFileSystem::open_read(base, spelled(base, relative));
  }
  std::expected<void, std::string> remove(const Path& base, const Path& relative) const override {
    return DiskFileSystem::remove(base, spelled(base, relative));
  }
  std::expected<void, store::StepFailure> create_file(
      const Path& base, const Path& relative, const store::Producer& produce) const override;
  std::expected<void, store::StepFailure> rename(const Path& base, const Path& from, const Path& to,
                                                 bool keep_existing) const override;

 private:
  // `relative` with each component spelled as the entry it finds.
  static Path spelled(const Path& base, const Path& relative);
};

}  // namespace testing_support
