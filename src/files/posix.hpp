#pragma once

// The POSIX calls under the disk face, and under the console, which writes to
// a descriptor: thin, non-throwing, with the system's message text for errors.

#include <sys/stat.h>
#include <cstdint>
#include <expected>

#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files/file_system.hpp"

namespace files::posix {

// The system's text for the error number `error`.
std::string errno_text(int error);

// Owns a file descriptor and closes it on every path out of a scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Gives up ownership without closing.
  int release() { return std::exchange(fd_, -1); }
  // Closes now, so that a failing close (a delayed write error) can be seen:
  // 0, or -1 with errno set.
  int close();

 private:
  void reset();
  int fd_ = -1;
};

// Writes all of `bytes` to `fd`.
std::expected<void, std::string> write_all(int fd, std::string_view bytes);

// The whole content of the regular file at `path` (links followed), or the
// system's error text; a FIFO, device or other non-regular file gives
// `kNotRegular` without blocking or reading it, and one of more than
// `max_bytes` gives too_large_text without reading it. Kind and size are
// judged before readability, so each file fails for the same reason whoever
// runs the command.
// With `opened`, the stat data of the file read, taken from its descriptor.
std::expected<std::string, std::string> read_bytes(
    const std::filesystem::path& path,
    std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max(),
    struct stat* opened = nullptr);

// The entries of the directory `dir`, sorted by name bytes so that every run
// walks them in the same order; the system's error text when it cannot be
// listed.
std::expected<std::vector<DirEntry>, std::string> list_dir(const std::filesystem::path& dir);
// The names list_dir gives, in its order, without a path each.
std::expected<std::vector<std::string>, std::string> list_names(const std::filesystem::path& dir);

}  // namespace files::posix
