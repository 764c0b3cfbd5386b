#pragma once

// A directory trusted as given (the workspace root or the golden directory),
// seen through the file system: everything the command creates, writes or
// loads of its own lies below it, and nothing below it passes through a
// symbolic link, so a link planted in a workspace from elsewhere can neither
// redirect a write outside it nor feed a derived file from outside it. Its
// failures are the system's text alone.

#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/file_system.hpp"
#include "files/path_text.hpp"

namespace files {

class Tree {
 public:
  explicit Tree(std::filesystem::path base, const FileSystem& fs)
      : base_(std::move(base)), fs_(&fs) {}

  const std::filesystem::path& base() const { return base_; }
  const FileSystem& file_system() const { return *fs_; }

  // The base joined with `relative`, as messages show it.
  std::string shown(const std::filesystem::path& relative) const {
    return shown_path(base_, relative);
  }

  std::expected<void, std::string> create_directories(const std::filesystem::path& relative) const;
  EntryKind kind(const std::filesystem::path& relative) const { return fs_->kind(base_, relative); }
  std::expected<std::unique_ptr<ReadFile>, std::string> open_read(
      const std::filesystem::path& relative) const;
  std::expected<std::vector<DirEntry>, std::string> list(
      const std::filesystem::path& relative) const;

  // The whole content of the regular file at `relative`.
  std::expected<std::string, std::string> read(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path base_;
  const FileSystem* fs_;
};

// The content of the regular file `relative` below `tree` when it is UTF-8
// text, else the system's error text or `kNotUtf8`.
std::expected<std::string, std::string> read_text(const Tree& tree,
                                                  const std::filesystem::path& relative);

}  // namespace files
