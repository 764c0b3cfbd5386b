#pragma once

// A directory trusted as given (the workspace root or the golden directory),
// seen through the file system: everything the command creates, writes or
// loads of its own lies below it, and nothing below it passes through a
// symbolic link, so a link planted in a workspace from elsewhere can neither
// redirect a write outside it nor feed a derived file from outside it.

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "store/file_system.hpp"

namespace store {

class Tree {
 public:
  explicit Tree(std::filesystem::path base, const FileSystem& fs = disk())
      : base_(std::move(base)), fs_(&fs) {}

  const std::filesystem::path& base() const { return base_; }
  const FileSystem& file_system() const { return *fs_; }

  // The base joined with `relative`: the path shown in messages.
  std::filesystem::path shown(const std::filesystem::path& relative) const {
    return base_ / relative;
  }

  std::expected<void, std::string> create_directories(const std::filesystem::path& relative) const {
    if (auto made = fs_->create_directories(base_, relative); !made) {
      return std::unexpected(std::move(made.error().text));
    }
    return {};
  }
  EntryKind kind(const std::filesystem::path& relative) const { return fs_->kind(base_, relative); }
  std::expected<fsx::UniqueFd, std::string> open_read(const std::filesystem::path& relative) const {
    return fs_->open_read(base_, relative);
  }
  std::expected<std::vector<fsx::DirEntry>, std::string> list(
      const std::filesystem::path& relative) const {
    return fs_->list(base_, relative);
  }

  // The whole content of the regular file at `relative`.
  std::expected<std::string, std::string> read(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path base_;
  const FileSystem* fs_;
};

// The content of the regular file `relative` below `tree` when it is UTF-8
// text, else the system's error text or `fsx::kNotUtf8`.
std::expected<std::string, std::string> read_text(const Tree& tree,
                                                  const std::filesystem::path& relative);

}  // namespace store
