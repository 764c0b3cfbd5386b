#pragma once

// A scratch directory per test, removed afterwards, with helpers to lay out
// workspace files.

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return path_ / relative;
  }

  // Writes `content` to `relative` below the directory, creating parents.
  void write(const std::filesystem::path& relative, std::string_view content) const;
  // The content of `relative`, or "<missing>" when it cannot be read.
  std::string read(const std::filesystem::path& relative) const;
  bool exists(const std::filesystem::path& relative) const;

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
