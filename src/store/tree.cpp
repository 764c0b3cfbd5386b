#include "store/tree.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "util/text.hpp"

namespace store {
namespace {

using Failure = std::unexpected<std::string>;

Failure failure(int error) { return std::unexpected(fsx::errno_text(error)); }

// Runs `hook` (when there is one) before a step; an error number it returns
// fails the step as if the system had reported it.
std::optional<int> run_hook(FileHook* hook, FileStep step, const std::filesystem::path& path) {
  if (hook == nullptr) return std::nullopt;
  return hook->before(step, path);
}

// The components of a path below the base, without "." and empty ones. A
// path that is absolute or climbs with ".." is refused: nothing below the base
// may name something outside it.
std::expected<std::vector<std::string>, int> components(const std::filesystem::path& relative) {
  std::vector<std::string> parts;
  if (relative.has_root_path()) return std::unexpected(EINVAL);
  for (const auto& part : relative) {
    const auto& name = part.native();
    if (name.empty() || name == ".") continue;
    if (name == "..") return std::unexpected(EINVAL);
    parts.push_back(name);
  }
  return parts;
}

// An error number for a directory open that failed: a link standing at the
// name is reported as one, where the kernel says "not a directory".
int directory_open_error(int dir, const std::string& name, int error) {
  struct stat info {};
  if (error == ENOTDIR && ::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    return ELOOP;
  }
  return error;
}

// Whether a walk makes the directories it does not find.
enum class Missing { Fail, Create };

// Opens the directory made of the first `count` components below the base,
// one component at a time without following links; with Missing::Create, missing
// ones are made on the way.
std::expected<fsx::UniqueFd, int> open_directory(const std::filesystem::path& base,
                                                 const std::vector<std::string>& parts,
                                                 std::size_t count, Missing missing, FileHook* hook) {
  // The base itself is used as given and may be a link; a missing one is made
  // like any directory a caller asks for.
  fsx::UniqueFd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir && errno == ENOENT && missing == Missing::Create) {
    if (const auto injected = run_hook(hook, FileStep::MakeDirectory, base)) {
      return std::unexpected(*injected);
    }
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    dir = fsx::UniqueFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (!dir) return std::unexpected(errno);
  std::filesystem::path shown = base;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& name = parts[i];
    shown /= name;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(dir.get(), name.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && missing == Missing::Create) {
      if (const auto injected = run_hook(hook, FileStep::MakeDirectory, shown)) {
        return std::unexpected(*injected);
      }
      if (::mkdirat(dir.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
        return std::unexpected(errno);
      }
      next = ::openat(dir.get(), name.c_str(), kFlags);
    }
    if (next < 0) return std::unexpected(directory_open_error(dir.get(), name, errno));
    dir = fsx::UniqueFd(next);
  }
  return dir;
}

// The directory that holds the last component, and that component's name.
struct Parent {
  fsx::UniqueFd dir;
  std::string name;
};

std::expected<Parent, int> open_parent(const std::filesystem::path& base,
                                       const std::filesystem::path& relative, Missing missing,
                                       FileHook* hook) {
  auto parts = components(relative);
  if (!parts) return std::unexpected(parts.error());
  if (parts->empty()) return std::unexpected(EINVAL);
  auto dir = open_directory(base, *parts, parts->size() - 1, missing, hook);
  if (!dir) return std::unexpected(dir.error());
  return Parent{std::move(*dir), std::move(parts->back())};
}

EntryKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::Regular;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

EntryKind kind_at(int dir, const std::string& name) {
  struct stat info {};
  if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Missing;
  return kind_of(info.st_mode);
}

// A file about to be opened for writing must not be a link (it would be
// followed) nor a FIFO, device or socket (opening could block or reach a
// device). A directory is left to the open, which names it.
std::expected<void, std::string> check_writable_name(int dir, const std::string& name) {
  switch (kind_at(dir, name)) {
    case EntryKind::Link:
      return failure(ELOOP);
    case EntryKind::Other:
      return std::unexpected(std::string(fsx::kNotRegular));
    default:
      return {};
  }
}

// Writes what it is given into a new file, calling the hook once the first
// piece is in, so a test can end the process with the file half written.
class FileSink final : public ByteSink {
 public:
  FileSink(int fd, const std::filesystem::path& shown, FileHook* hook)
      : fd_(fd), shown_(shown), hook_(hook) {}

  void put(std::string_view bytes) override {
    if (error_) return;
    if (auto written = fsx::write_all(fd_, bytes); !written) {
      error_ = std::move(written.error());
      return;
    }
    if (!hooked_) {
      hooked_ = true;
      if (const auto injected = run_hook(hook_, FileStep::WriteHalf, shown_)) {
        error_ = fsx::errno_text(*injected);
      }
    }
  }

  // The first failure, if any.
  const std::optional<std::string>& error() const { return error_; }

 private:
  int fd_;
  const std::filesystem::path& shown_;
  FileHook* hook_;
  bool hooked_ = false;
  std::optional<std::string> error_;
};

// Puts `bytes` in two halves, so the hook runs half way.
Producer halves(std::string_view bytes) {
  return [bytes](ByteSink& sink) {
    sink.put(bytes.substr(0, bytes.size() / 2));
    sink.put(bytes.substr(bytes.size() / 2));
  };
}

std::expected<void, std::string> write_through(int fd, const Producer& produce,
                                               const std::filesystem::path& shown,
                                               FileHook* hook) {
  FileSink sink(fd, shown, hook);
  produce(sink);
  if (sink.error()) return std::unexpected(*sink.error());
  return {};
}

std::expected<fsx::UniqueFd, std::string> create_file(int dir, const std::string& name,
                                                      FileStep step,
                                                      const std::filesystem::path& shown,
                                                      FileHook* hook) {
  if (auto checked = check_writable_name(dir, name); !checked) {
    return std::unexpected(checked.error());
  }
  if (const auto injected = run_hook(hook, step, shown)) return failure(*injected);
  fsx::UniqueFd fd(::openat(dir, name.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                            0666));
  if (!fd) return failure(errno);
  return fd;
}

}  // namespace

std::optional<int> Tree::before(FileStep step, const std::filesystem::path& path) const {
  return run_hook(hook_, step, path);
}

std::expected<void, std::string> Tree::create_directories(
    const std::filesystem::path& relative) const {
  const auto parts = components(relative);
  if (!parts) return failure(parts.error());
  const auto dir = open_directory(base_, *parts, parts->size(), Missing::Create, hook_);
  if (!dir) return failure(dir.error());
  return {};
}

EntryKind Tree::kind(const std::filesystem::path& relative) const {
  const auto parent = open_parent(base_, relative, Missing::Fail, hook_);
  if (!parent) return parent.error() == ELOOP ? EntryKind::Link : EntryKind::Missing;
  return kind_at(parent->dir.get(), parent->name);
}

std::expected<fsx::UniqueFd, std::string> Tree::open_read(
    const std::filesystem::path& relative) const {
  const auto parent = open_parent(base_, relative, Missing::Fail, hook_);
  if (!parent) return failure(parent.error());
  fsx::UniqueFd fd(::openat(parent->dir.get(), parent->name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return failure(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return failure(errno);
  if (!S_ISREG(info.st_mode)) return std::unexpected(std::string(fsx::kNotRegular));
  return fd;
}

std::expected<std::string, std::string> Tree::read(const std::filesystem::path& relative) const {
  const auto fd = open_read(relative);
  if (!fd) return std::unexpected(fd.error());
  return fsx::read_all(fd->get());
}

std::expected<std::string, std::string> read_text(const Tree& tree,
                                                  const std::filesystem::path& relative) {
  auto bytes = tree.read(relative);
  if (bytes && !text::is_valid_utf8(*bytes)) return std::unexpected(std::string(fsx::kNotUtf8));
  return bytes;
}

std::expected<std::vector<fsx::DirEntry>, std::string> Tree::list(
    const std::filesystem::path& relative) const {
  const auto parts = components(relative);
  if (!parts) return failure(parts.error());
  auto dir = open_directory(base_, *parts, parts->size(), Missing::Fail, hook_);
  if (!dir) return failure(dir.error());
  DIR* stream = ::fdopendir(dir->get());
  if (stream == nullptr) return failure(errno);
  (void)dir->release();
  std::vector<fsx::DirEntry> entries;
  errno = 0;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back({text::to_valid_utf8(name), relative / name});
  }
  const int error = errno;
  ::closedir(stream);
  if (error != 0) return failure(error);
  std::ranges::sort(entries, [](const fsx::DirEntry& a, const fsx::DirEntry& b) {
    if (a.name != b.name) return a.name < b.name;
    return a.path.native() < b.path.native();
  });
  return entries;
}

std::expected<void, std::string> Tree::write_plain(const std::filesystem::path& relative,
                                                   std::string_view bytes) const {
  const auto parent = open_parent(base_, relative, Missing::Fail, hook_);
  if (!parent) return failure(parent.error());
  const auto path = shown(relative);
  auto fd = create_file(parent->dir.get(), parent->name, FileStep::WritePlain, path, hook_);
  if (!fd) return std::unexpected(fd.error());
  if (auto written = write_through(fd->get(), halves(bytes), path, hook_); !written) {
    return written;
  }
  if (fd->close() != 0) return failure(errno);
  return {};
}

std::expected<void, std::string> Tree::write_atomic(const std::filesystem::path& relative,
                                                    std::string_view bytes,
                                                    Durability durability) const {
  return write_atomic(relative, halves(bytes), durability);
}

std::expected<void, std::string> Tree::write_atomic(const std::filesystem::path& relative,
                                                    const Producer& produce,
                                                    Durability durability) const {
  const auto parent = open_parent(base_, relative, Missing::Create, hook_);
  if (!parent) return failure(parent.error());
  const int dir = parent->dir.get();
  const std::string& name = parent->name;
  // Fixed temporary name: a leftover from an interrupted run is simply
  // overwritten and renamed by the next write of the same target.
  const std::string temporary = name + ".tmp";
  const auto path = shown(relative);
  const bool durable = durability == Durability::Durable;

  auto fd = create_file(dir, temporary, FileStep::CreateTemporary, path, hook_);
  if (!fd) return std::unexpected(fd.error());
  if (auto written = write_through(fd->get(), produce, path, hook_); !written) return written;
  if (durable) {
    if (const auto injected = before(FileStep::SyncFile, path)) return failure(*injected);
    if (::fsync(fd->get()) != 0) return failure(errno);
  }
  if (fd->close() != 0) return failure(errno);

  // rename() would replace a link standing at the target instead of refusing it.
  if (kind_at(dir, name) == EntryKind::Link) return failure(ELOOP);
  if (const auto injected = before(FileStep::Rename, path)) return failure(*injected);
  if (::renameat(dir, temporary.c_str(), dir, name.c_str()) != 0) return failure(errno);
  if (durable) {
    if (const auto injected = before(FileStep::SyncDirectory, path)) return failure(*injected);
    if (::fsync(dir) != 0) return failure(errno);
  }
  return {};
}

}  // namespace store
