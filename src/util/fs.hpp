#pragma once

// Thin, non-throwing wrappers over the file system. Errors come back as the
// operating system's message text (std::error_code::message()).

#include <cstdint>
#include <expected>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fsx {

class ContentHash;

// The text shown when a file's bytes are not UTF-8.
inline constexpr std::string_view kNotUtf8 = "不是有效的 UTF-8 文本";

// The text shown when a path that must be a regular file is a FIFO, a device,
// a socket or a directory.
inline constexpr std::string_view kNotRegular = "不是普通文件";

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

// The rest of the open file `fd`, read to its end.
std::expected<std::string, std::string> read_all(
    int fd, std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max());

// Writes all of `bytes` to `fd`.
std::expected<void, std::string> write_all(int fd, std::string_view bytes);

// Reads an open file in pieces and checks, as it goes, that its bytes are
// UTF-8, so a large file can be parsed without standing whole in memory.
class Utf8Reader {
 public:
  // Every byte read also goes to `hash`, when there is one.
  explicit Utf8Reader(int fd, ContentHash* hash = nullptr) : fd_(fd), hash_(hash) {}

  // The next piece, cut where no UTF-8 sequence is split; empty at the end, at
  // a read failure or at bytes that are not UTF-8.
  std::string_view next();

  // False once a read failed or the bytes so far were not UTF-8 (a sequence
  // cut short by the end of the file included).
  bool ok() const { return ok_; }

 private:
  int fd_;
  ContentHash* hash_;
  std::string piece_;
  std::string carry_;
  bool ok_ = true;
  bool done_ = false;
};

// The text shown for a file of `size` bytes over the limit of `max_bytes`.
std::string too_large_text(std::uint64_t size, std::uint64_t max_bytes);

// The whole content of the regular file at `path` (links followed), or the
// system's error text; a FIFO, device or other non-regular file gives
// `kNotRegular` without blocking or reading it, and one of more than
// `max_bytes` gives too_large_text without reading it. Kind and size are
// judged before readability, so each file fails for the same reason whoever
// runs the command.
std::expected<std::string, std::string> read_bytes(
    const std::filesystem::path& path,
    std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max());

// The whole content of the file at `path` when it is UTF-8 text, else the
// failure of read_bytes or `kNotUtf8`.
std::expected<std::string, std::string> read_text(
    const std::filesystem::path& path,
    std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max());

// One directory entry: its name as text (ill-formed UTF-8 replaced by U+FFFD)
// and the real path to open it by.
struct DirEntry {
  std::string name;
  std::filesystem::path path;
};

// The entries of the directory `dir`, sorted by name bytes so that every run
// walks them in the same order; the system's error text when it cannot be listed.
std::expected<std::vector<DirEntry>, std::string> list_dir(const std::filesystem::path& dir);

// True when `path` names an existing directory (links followed).
bool is_directory(const std::filesystem::path& path);

}  // namespace fsx
