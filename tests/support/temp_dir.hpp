#pragma once

// A scratch directory per test, removed afterwards, with helpers to lay out
// workspace files. A relative path given as text is UTF-8 (files::utf8_path),
// as the tests write it.

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
  std::filesystem::path operator/(const std::string& relative) const;
  std::filesystem::path operator/(const char* relative) const {
    return *this / std::string(relative);
  }

  // Writes `content` to `relative` below the directory, creating parents.
  void write(const std::filesystem::path& relative, std::string_view content) const;
  void write(const std::string& relative, std::string_view content) const;
  void write(const char* relative, std::string_view content) const {
    write(std::string(relative), content);
  }
  // The content of `relative`, or "<missing>" when it cannot be read.
  std::string read(const std::filesystem::path& relative) const;
  std::string read(const std::string& relative) const;
  std::string read(const char* relative) const { return read(std::string(relative)); }
  bool exists(const std::filesystem::path& relative) const;
  bool exists(const std::string& relative) const;
  bool exists(const char* relative) const { return exists(std::string(relative)); }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
