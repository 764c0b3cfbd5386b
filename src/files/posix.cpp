#include "files/posix.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "util/text.hpp"

namespace files::posix {

std::string errno_text(int error) {
  return std::error_code(error, std::system_category()).message();
}

int UniqueFd::close() {
  const int result = ::close(fd_);
  fd_ = -1;
  return result;
}

void UniqueFd::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

// Reads straight into the text, sized from what fstat said: a record costs
// one copy, not one through a buffer.
std::expected<std::string, std::string> read_sized(int fd, std::uint64_t max_bytes,
                                                   std::uint64_t size) {
  std::string content;
  // One byte more than the size, so that the end is found by the next read
  // and a file that grows is seen to grow.
  content.resize(static_cast<std::size_t>(std::min(size, max_bytes)) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) content.resize(used + (std::size_t{1} << 16));
    const ssize_t got = ::read(fd, content.data() + used, content.size() - used);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno_text(errno));
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
    // A file that grows while it is read stops at the limit all the same.
    if (used > max_bytes) return std::unexpected(too_large_text(used, max_bytes));
  }
  content.resize(used);
  return content;
}

std::uint64_t size_of(const struct stat& info) {
  return info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

// Why a file of this kind and size is not read, if it is not.
std::optional<std::string> refusal(const struct stat& info, std::uint64_t max_bytes) {
  // A device such as /dev/zero would never end.
  if (!S_ISREG(info.st_mode)) return std::string(kNotRegular);
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size > max_bytes) return too_large_text(size, max_bytes);
  return std::nullopt;
}

}  // namespace

std::expected<void, std::string> write_all(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(errno_text(errno));
    }
    written += static_cast<std::size_t>(put);
  }
  return {};
}

std::expected<std::string, std::string> read_bytes(const std::filesystem::path& path,
                                                   std::uint64_t max_bytes, struct stat* opened) {
  struct stat info{};
  // Without O_NONBLOCK a FIFO would hold the open until a writer came.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    if (::stat(path.c_str(), &info) == 0) {
      if (auto refused = refusal(info, max_bytes)) return std::unexpected(std::move(*refused));
    }
    return std::unexpected(errno_text(error));
  }
  if (::fstat(fd.get(), &info) != 0) return std::unexpected(errno_text(errno));
  if (auto refused = refusal(info, max_bytes)) return std::unexpected(std::move(*refused));
  if (opened != nullptr) *opened = info;
  return read_sized(fd.get(), max_bytes, size_of(info));
}

std::expected<std::vector<DirEntry>, std::string> list_dir(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return std::unexpected(ec.message());
  std::vector<DirEntry> entries;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return std::unexpected(ec.message());
    const auto& path = it->path();
    entries.push_back({text::to_valid_utf8(path.filename().native()), path});
  }
  if (ec) return std::unexpected(ec.message());
  std::ranges::stable_sort(entries, [](const DirEntry& a, const DirEntry& b) {
    if (a.name != b.name) return a.name < b.name;
    return a.path.native() < b.path.native();
  });
  return entries;
}

std::expected<std::vector<std::string>, std::string> list_names(const std::filesystem::path& dir) {
  const std::unique_ptr<DIR, int (*)(DIR*)> opened(::opendir(dir.c_str()), ::closedir);
  if (!opened) return std::unexpected(std::system_category().message(errno));
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(opened.get());
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(text::to_valid_utf8(name));
  }
  if (errno != 0) return std::unexpected(std::system_category().message(errno));
  std::ranges::sort(names);
  return names;
}

}  // namespace files::posix
