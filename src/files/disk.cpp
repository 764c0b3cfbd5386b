#include "files/disk.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/statfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "files/path_text.hpp"
#include "files/posix.hpp"
#include "util/fallbacks.hpp"
#include "util/text.hpp"

namespace files {
namespace {

using posix::errno_text;
using posix::UniqueFd;

// The kind a caller may branch on for the error number `error`.
ErrorKind kind_of_error(int error) {
  switch (error) {
    case ENOENT:
      return ErrorKind::NotFound;
    case ELOOP:
      return ErrorKind::Link;
    case EWOULDBLOCK:
      return ErrorKind::Busy;
    default:
      return ErrorKind::Other;
  }
}

Error error_of(int error) { return {kind_of_error(error), errno_text(error)}; }

std::unexpected<Error> failure(int error) { return std::unexpected(error_of(error)); }

// What the face answers where it does without one of Linux's own calls.
std::unexpected<Error> unsupported() {
  return std::unexpected(Error{ErrorKind::Unsupported, errno_text(ENOTSUP)});
}

// Whether `dir` lies on a FUSE file system. Only Linux tells it for sure;
// elsewhere a FUSE driver's EPERM or ENOENT fails the run as any other would.
bool on_fuse(int dir) {
#if defined(__linux__)
  struct statfs info{};
  return ::fstatfs(dir, &info) == 0 && static_cast<unsigned long>(info.f_type) == FUSE_SUPER_MAGIC;
#else
  (void)dir;
  return false;
#endif
}

// Whether the directory `dir` takes a plain new name: a directory that
// refuses one refuses everything, which is a matter of permission.
bool takes_plain_name(int dir) {
  const std::string name(kProbeName);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd =
        ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      (void)::unlinkat(dir, name.c_str(), 0);
      return true;
    }
    // Left by a killed run.
    if (errno != EEXIST || ::unlinkat(dir, name.c_str(), 0) != 0) return false;
  }
  return false;
}

// How making a name in `dir` failed with `error`. For a character FAT
// cannot hold, where the kernel says EINVAL, FUSE drivers answer EPERM
// (fusefat) or ENOENT (exfat-fuse); only a directory that takes a plain name
// tells that apart from a permission or a directory removed under the run.
Error make_failure(int dir, int error) {
  Error failure = error_of(error);
  if (error == EINVAL || error == EILSEQ) failure.kind = ErrorKind::NameRefused;
  if ((error == EPERM || error == ENOENT) && on_fuse(dir) && takes_plain_name(dir)) {
    failure.kind = ErrorKind::NameRefused;
  }
  return failure;
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
  struct stat info{};
  if (error == ENOTDIR && ::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    return ELOOP;
  }
  return error;
}

// Whether a walk makes the directories it does not find.
enum class Missing { Fail, Create };

// Opens the directory made of the first `count` components below the base,
// one component at a time without following links; with Missing::Create,
// missing ones are made on the way, and `refused` (when given) tells whether a
// failed one was refused for its name.
std::expected<UniqueFd, int> open_directory(const std::filesystem::path& base,
                                            const std::vector<std::string>& parts,
                                            std::size_t count, Missing missing,
                                            bool* refused = nullptr) {
  // The base itself is used as given and may be a link; a missing one is made
  // like any directory a caller asks for.
  UniqueFd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir && errno == ENOENT && missing == Missing::Create) {
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    dir = UniqueFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (!dir) return std::unexpected(errno);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& name = parts[i];
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(dir.get(), name.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && missing == Missing::Create) {
      if (::mkdirat(dir.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
        const int error = errno;
        if (refused != nullptr) {
          *refused = make_failure(dir.get(), error).kind == ErrorKind::NameRefused;
        }
        return std::unexpected(error);
      }
      next = ::openat(dir.get(), name.c_str(), kFlags);
    }
    if (next < 0) return std::unexpected(directory_open_error(dir.get(), name, errno));
    dir = UniqueFd(next);
  }
  return dir;
}

std::expected<UniqueFd, int> open_whole(const std::filesystem::path& base,
                                        const std::filesystem::path& relative, Missing missing) {
  const auto parts = components(relative);
  if (!parts) return std::unexpected(parts.error());
  return open_directory(base, *parts, parts->size(), missing);
}

// The directory that holds the last component, and that component's name.
struct Parent {
  UniqueFd dir;
  std::string name;
};

std::expected<Parent, int> open_parent(const std::filesystem::path& base,
                                       const std::filesystem::path& relative) {
  auto parts = components(relative);
  if (!parts) return std::unexpected(parts.error());
  if (parts->empty()) return std::unexpected(EINVAL);
  auto dir = open_directory(base, *parts, parts->size() - 1, Missing::Fail);
  if (!dir) return std::unexpected(dir.error());
  return Parent{std::move(*dir), std::move(parts->back())};
}

EntryKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::Regular;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

// Writes what it is given into a new file and keeps the first failure.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd) {}

  void put(std::string_view bytes) override {
    if (error_) return;
    if (auto written = posix::write_all(fd_, bytes); !written) error_ = std::move(written.error());
  }

  const std::optional<std::string>& error() const { return error_; }

 private:
  int fd_;
  std::optional<std::string> error_;
};

// An open regular file of the disk.
class DiskReadFile final : public ReadFile {
 public:
  explicit DiskReadFile(UniqueFd fd) : fd_(std::move(fd)) {}
  std::expected<std::size_t, Error> read(std::span<char> buffer) override {
    for (;;) {
      const ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return failure(errno);
    }
  }
  std::optional<FileIdentity> identity() const override {
    struct stat info{};
    if (::fstat(fd_.get(), &info) != 0) return std::nullopt;
    return identity_of(info);
  }

  static FileIdentity identity_of(const struct stat& info) {
#if defined(__APPLE__)
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size), modified.tv_sec, modified.tv_nsec};
  }

 private:
  UniqueFd fd_;
};

// A lock of the disk: flock on an open directory, released when it closes.
class DiskLock final : public Lock {
 public:
  explicit DiskLock(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;
};

}  // namespace

Fallbacks default_fallbacks() {
  return fallbacks::forced() ? Fallbacks::Always : Fallbacks::WhereNeeded;
}

#if defined(__linux__)
DiskFileSystem::DiskFileSystem(Fallbacks fallbacks)
    : linux_calls_(fallbacks == Fallbacks::WhereNeeded) {}
#else
DiskFileSystem::DiskFileSystem(Fallbacks) : linux_calls_(false) {}
#endif

EntryKind DiskFileSystem::kind(const std::filesystem::path& base,
                               const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return parent.error() == ELOOP ? EntryKind::Link : EntryKind::Missing;
  struct stat info{};
  if (::fstatat(parent->dir.get(), parent->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return EntryKind::Missing;
  }
  return kind_of(info.st_mode);
}

std::optional<FileIdentity> DiskFileSystem::identity(const std::filesystem::path& base,
                                                     const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return std::nullopt;
  struct stat info{};
  if (::fstatat(parent->dir.get(), parent->name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return DiskReadFile::identity_of(info);
}

std::expected<std::unique_ptr<ReadFile>, Error> DiskFileSystem::open_read(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return failure(parent.error());
  UniqueFd fd(::openat(parent->dir.get(), parent->name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return failure(errno);
  struct stat info{};
  if (::fstat(fd.get(), &info) != 0) return failure(errno);
  if (!S_ISREG(info.st_mode)) {
    return std::unexpected(Error{ErrorKind::NotRegular, std::string(kNotRegular)});
  }
  return std::make_unique<DiskReadFile>(std::move(fd));
}

std::expected<std::vector<DirEntry>, Error> DiskFileSystem::list(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  auto dir = open_whole(base, relative, Missing::Fail);
  if (!dir) return failure(dir.error());
  DIR* stream = ::fdopendir(dir->get());
  if (stream == nullptr) return failure(errno);
  (void)dir->release();
  std::vector<DirEntry> entries;
  errno = 0;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back({text::to_valid_utf8(name), relative / utf8_path(name)});
  }
  const int error = errno;
  ::closedir(stream);
  if (error != 0) return failure(error);
  std::ranges::sort(entries, [](const DirEntry& a, const DirEntry& b) {
    if (a.name != b.name) return a.name < b.name;
    return a.path.native() < b.path.native();
  });
  return entries;
}

std::expected<void, Error> DiskFileSystem::create_directories(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto parts = components(relative);
  if (!parts) return failure(parts.error());
  bool refused = false;
  if (const auto dir = open_directory(base, *parts, parts->size(), Missing::Create, &refused);
      !dir) {
    Error error = error_of(dir.error());
    if (refused) error.kind = ErrorKind::NameRefused;
    return std::unexpected(std::move(error));
  }
  return {};
}

std::expected<void, Error> DiskFileSystem::create_file(const std::filesystem::path& base,
                                                       const std::filesystem::path& relative,
                                                       const Producer& produce) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return failure(parent.error());
  // O_EXCL: whatever stands at the name, a hard link to a file elsewhere
  // included, is never opened, let alone truncated.
  UniqueFd fd(::openat(parent->dir.get(), parent->name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd) return std::unexpected(make_failure(parent->dir.get(), errno));
  FileSink sink(fd.get());
  produce(sink);
  std::optional<std::string> error = sink.error();
  if (!error && fd.close() != 0) error = errno_text(errno);
  if (error) {
    // Made here and never renamed: a failed file leaves nothing behind.
    (void)::unlinkat(parent->dir.get(), parent->name.c_str(), 0);
    return std::unexpected(Error{ErrorKind::Other, std::move(*error)});
  }
  return {};
}

std::expected<void, Error> DiskFileSystem::remove(const std::filesystem::path& base,
                                                  const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return failure(parent.error());
  if (::unlinkat(parent->dir.get(), parent->name.c_str(), 0) != 0) return failure(errno);
  return {};
}

std::expected<void, Error> DiskFileSystem::rename(const std::filesystem::path& base,
                                                  const std::filesystem::path& from,
                                                  const std::filesystem::path& to,
                                                  bool keep_existing) const {
  // Only Linux renames without replacing in one step; elsewhere the writer
  // makes a kept copy in place, as on a FAT drive.
  if (keep_existing && !linux_calls_) return unsupported();
  const auto source = open_parent(base, from);
  if (!source) return failure(source.error());
  const auto target = open_parent(base, to);
  if (!target) return failure(target.error());
  const int from_dir = source->dir.get(), to_dir = target->dir.get();
  const char *from_name = source->name.c_str(), *to_name = target->name.c_str();
#if defined(__linux__)
  const int renamed = linux_calls_ ? ::renameat2(from_dir, from_name, to_dir, to_name,
                                                 keep_existing ? RENAME_NOREPLACE : 0)
                                   : ::renameat(from_dir, from_name, to_dir, to_name);
#else
  const int renamed = ::renameat(from_dir, from_name, to_dir, to_name);
#endif
  if (renamed != 0) {
    const int number = errno;
    Error error = error_of(number);
    // FAT through FUSE cannot rename without replacing.
    if (keep_existing && number == EINVAL) error.kind = ErrorKind::Unsupported;
    return std::unexpected(std::move(error));
  }
  return {};
}

std::expected<void, Error> DiskFileSystem::sync_file_system(
    const std::filesystem::path& base) const {
#if defined(__linux__)
  if (linux_calls_) {
    const UniqueFd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return failure(errno);
    if (::syncfs(dir.get()) != 0) return failure(errno);
    return {};
  }
#endif
  (void)base;
  return unsupported();
}

std::expected<void, Error> DiskFileSystem::sync_file(const std::filesystem::path& base,
                                                     const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return failure(parent.error());
  // Opened for reading, which fsync needs no more than: no existing file is
  // ever opened for writing.
  const UniqueFd fd(::openat(parent->dir.get(), parent->name.c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return failure(errno);
  if (::fsync(fd.get()) != 0) return failure(errno);
  return {};
}

std::expected<void, Error> DiskFileSystem::check_replaceable(const std::filesystem::path&,
                                                             const std::filesystem::path&) const {
  // An open file never keeps a POSIX rename from replacing its name.
  return {};
}

std::expected<void, Error> DiskFileSystem::sync_directory(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto dir = open_whole(base, relative, Missing::Fail);
  if (!dir) return failure(dir.error());
#if defined(__APPLE__)
  // fsync on macOS leaves the bytes in the drive's own cache; F_FULLFSYNC
  // empties it, with what every earlier fsync sent, and the writer flushes
  // directories after their files. A file system that cannot do it still
  // takes the fsync.
  if (::fcntl(dir->get(), F_FULLFSYNC) == 0) return {};
#endif
  if (::fsync(dir->get()) != 0) return failure(errno);
  return {};
}

std::expected<std::unique_ptr<Lock>, Error> DiskFileSystem::lock_directory(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  auto dir = open_whole(base, relative, Missing::Fail);
  if (!dir) return failure(dir.error());
  if (::flock(dir->get(), LOCK_EX | LOCK_NB) != 0) {
    const int number = errno;
    Error error = error_of(number);
    if (number == ENOLCK || number == EOPNOTSUPP) error.kind = ErrorKind::Unsupported;
    return std::unexpected(std::move(error));
  }
  return std::make_unique<DiskLock>(std::move(*dir));
}

std::optional<std::uint64_t> DiskFileSystem::device(const std::filesystem::path& base) const {
  struct stat info{};
  if (::stat(base.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_dev);
}

std::expected<std::vector<DirEntry>, Error> DiskFileSystem::list_records(
    const std::filesystem::path& dir) const {
  auto listed = posix::list_dir(dir);
  if (!listed) return std::unexpected(Error{ErrorKind::Other, std::move(listed.error())});
  return std::move(*listed);
}

std::expected<std::vector<std::string>, Error> DiskFileSystem::list_record_names(
    const std::filesystem::path& dir) const {
  auto listed = posix::list_names(dir);
  if (!listed) return std::unexpected(Error{ErrorKind::Other, std::move(listed.error())});
  return std::move(*listed);
}

bool DiskFileSystem::is_record_directory(const std::filesystem::path& path) const {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

namespace {

Stamp stamp_of(const struct stat& info) {
#if defined(__APPLE__)
  const timespec& modified = info.st_mtimespec;
  const timespec& changed = info.st_ctimespec;
#else
  const timespec& modified = info.st_mtim;
  const timespec& changed = info.st_ctim;
#endif
  const auto nanoseconds = [](const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
  };
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          nanoseconds(modified),
          nanoseconds(changed),
          S_ISDIR(info.st_mode)};
}

}  // namespace

std::expected<std::string, Error> DiskFileSystem::read_record(const std::filesystem::path& path,
                                                              Stamp* stamp) const {
  struct stat opened{};
  auto bytes = posix::read_bytes(path, kMaxRecordBytes, stamp != nullptr ? &opened : nullptr);
  if (bytes && !text::is_valid_utf8(*bytes)) bytes = std::unexpected(std::string(kNotUtf8));
  if (!bytes) return std::unexpected(Error{ErrorKind::Other, std::move(bytes.error())});
  if (stamp != nullptr) *stamp = stamp_of(opened);
  return std::move(*bytes);
}

std::optional<Stamp> DiskFileSystem::record_stamp(const std::filesystem::path& path) const {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return std::nullopt;
  return stamp_of(info);
}

std::vector<std::optional<Stamp>> DiskFileSystem::record_stamps(
    const std::filesystem::path& dir, std::span<const std::string_view> names) const {
  std::vector<std::optional<Stamp>> stamps(names.size());
  const UniqueFd opened(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened) return stamps;
  std::string name;
  for (std::size_t i = 0; i < names.size(); ++i) {
    name.assign(names[i]);
    struct stat info{};
    if (::fstatat(opened.get(), name.c_str(), &info, 0) == 0 &&
        (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
      stamps[i] = stamp_of(info);
    }
  }
  return stamps;
}

std::vector<std::pair<EntryKind, std::optional<Stamp>>> DiskFileSystem::entry_stamps(
    const std::filesystem::path& base, const std::filesystem::path& dir,
    std::span<const std::string_view> names) const {
  const auto opened = open_whole(base, dir, Missing::Fail);
  const EntryKind unreachable =
      !opened && opened.error() == ELOOP ? EntryKind::Link : EntryKind::Missing;
  std::vector<std::pair<EntryKind, std::optional<Stamp>>> found(names.size(),
                                                                {unreachable, std::nullopt});
  if (!opened) return found;
  std::string name;
  for (std::size_t i = 0; i < names.size(); ++i) {
    name.assign(names[i]);
    struct stat info{};
    if (::fstatat(opened->get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      found[i].first = EntryKind::Missing;
      continue;
    }
    found[i].first = kind_of(info.st_mode);
    if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) found[i].second = stamp_of(info);
  }
  return found;
}

bool DiskFileSystem::keeps_times(const std::filesystem::path& dir) const {
#if defined(__linux__)
  if (!linux_calls_) return true;
  struct statfs info{};
  if (::statfs(dir.c_str(), &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case MSDOS_SUPER_MAGIC:
    case FUSE_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
      return false;
    default:
      return true;
  }
#else
  // Elsewhere the kind of file system is not told apart: times are taken
  // for what they say, and a full run is one --full away.
  (void)dir;
  return true;
#endif
}

std::filesystem::path DiskFileSystem::canonical(const std::filesystem::path& path) const {
  std::error_code ec;
  auto made = std::filesystem::weakly_canonical(path, ec);
  if (ec) made = std::filesystem::absolute(path, ec).lexically_normal();
  return made;
}

const FileSystem& disk() {
  static const DiskFileSystem instance;
  return instance;
}

}  // namespace files
