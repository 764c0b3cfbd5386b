#include "store/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "util/text.hpp"

namespace store {
namespace {

using Failure = std::unexpected<std::string>;

Failure failure(int error) { return std::unexpected(fsx::errno_text(error)); }

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
StepFailure make_failure(int dir, int error) {
  StepFailure failure = step_failure(error);
  if (error == EPERM || error == ENOENT) {
    struct statfs info{};
    failure.name_refused = ::fstatfs(dir, &info) == 0 &&
                           static_cast<unsigned long>(info.f_type) == FUSE_SUPER_MAGIC &&
                           takes_plain_name(dir);
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
std::expected<fsx::UniqueFd, int> open_directory(const std::filesystem::path& base,
                                                 const std::vector<std::string>& parts,
                                                 std::size_t count, Missing missing,
                                                 bool* refused = nullptr) {
  // The base itself is used as given and may be a link; a missing one is made
  // like any directory a caller asks for.
  fsx::UniqueFd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir && errno == ENOENT && missing == Missing::Create) {
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    dir = fsx::UniqueFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  if (!dir) return std::unexpected(errno);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& name = parts[i];
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = ::openat(dir.get(), name.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && missing == Missing::Create) {
      if (::mkdirat(dir.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
        const int error = errno;
        if (refused != nullptr) *refused = make_failure(dir.get(), error).name_refused;
        return std::unexpected(error);
      }
      next = ::openat(dir.get(), name.c_str(), kFlags);
    }
    if (next < 0) return std::unexpected(directory_open_error(dir.get(), name, errno));
    dir = fsx::UniqueFd(next);
  }
  return dir;
}

std::expected<fsx::UniqueFd, int> open_whole(const std::filesystem::path& base,
                                             const std::filesystem::path& relative,
                                             Missing missing) {
  const auto parts = components(relative);
  if (!parts) return std::unexpected(parts.error());
  return open_directory(base, *parts, parts->size(), missing);
}

// The directory that holds the last component, and that component's name.
struct Parent {
  fsx::UniqueFd dir;
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
    if (auto written = fsx::write_all(fd_, bytes); !written) error_ = std::move(written.error());
  }

  const std::optional<std::string>& error() const { return error_; }

 private:
  int fd_;
  std::optional<std::string> error_;
};

}  // namespace

StepFailure step_failure(int error) {
  return {fsx::errno_text(error), error, error == EINVAL || error == EILSEQ};
}

static FileIdentity identity_of(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size), info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

std::optional<FileIdentity> identity_of(int fd) {
  struct stat info{};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return identity_of(info);
}

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
  return identity_of(info);
}

std::expected<fsx::UniqueFd, std::string> DiskFileSystem::open_read(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return failure(parent.error());
  fsx::UniqueFd fd(::openat(parent->dir.get(), parent->name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return failure(errno);
  struct stat info{};
  if (::fstat(fd.get(), &info) != 0) return failure(errno);
  if (!S_ISREG(info.st_mode)) return std::unexpected(std::string(fsx::kNotRegular));
  return fd;
}

std::expected<std::vector<fsx::DirEntry>, std::string> DiskFileSystem::list(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  auto dir = open_whole(base, relative, Missing::Fail);
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

std::expected<void, StepFailure> DiskFileSystem::create_directories(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto parts = components(relative);
  if (!parts) return std::unexpected(step_failure(parts.error()));
  bool refused = false;
  if (const auto dir = open_directory(base, *parts, parts->size(), Missing::Create, &refused);
      !dir) {
    StepFailure failure = step_failure(dir.error());
    failure.name_refused = refused;
    return std::unexpected(std::move(failure));
  }
  return {};
}

std::expected<void, StepFailure> DiskFileSystem::create_file(const std::filesystem::path& base,
                                                             const std::filesystem::path& relative,
                                                             const Producer& produce) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return std::unexpected(step_failure(parent.error()));
  // O_EXCL: whatever stands at the name, a hard link to a file elsewhere
  // included, is never opened, let alone truncated.
  fsx::UniqueFd fd(::openat(parent->dir.get(), parent->name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!fd) return std::unexpected(make_failure(parent->dir.get(), errno));
  FileSink sink(fd.get());
  produce(sink);
  std::optional<std::string> error = sink.error();
  if (!error && fd.close() != 0) error = fsx::errno_text(errno);
  if (error) {
    // Made here and never renamed: a failed file leaves nothing behind.
    (void)::unlinkat(parent->dir.get(), parent->name.c_str(), 0);
    return std::unexpected(StepFailure{std::move(*error)});
  }
  return {};
}

std::expected<void, std::string> DiskFileSystem::remove(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto parent = open_parent(base, relative);
  if (!parent) return failure(parent.error());
  if (::unlinkat(parent->dir.get(), parent->name.c_str(), 0) != 0) return failure(errno);
  return {};
}

std::expected<void, StepFailure> DiskFileSystem::rename(const std::filesystem::path& base,
                                                        const std::filesystem::path& from,
                                                        const std::filesystem::path& to,
                                                        bool keep_existing) const {
  const auto source = open_parent(base, from);
  if (!source) return std::unexpected(step_failure(source.error()));
  const auto target = open_parent(base, to);
  if (!target) return std::unexpected(step_failure(target.error()));
  const unsigned flags = keep_existing ? RENAME_NOREPLACE : 0;
  if (::renameat2(source->dir.get(), source->name.c_str(), target->dir.get(), target->name.c_str(),
                  flags) != 0) {
    return std::unexpected(step_failure(errno));
  }
  return {};
}

std::expected<void, std::string> DiskFileSystem::sync_file_system(
    const std::filesystem::path& base) const {
  const fsx::UniqueFd dir(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return failure(errno);
  if (::syncfs(dir.get()) != 0) return failure(errno);
  return {};
}

std::expected<void, std::string> DiskFileSystem::sync_directory(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto dir = open_whole(base, relative, Missing::Fail);
  if (!dir) return failure(dir.error());
  if (::fsync(dir->get()) != 0) return failure(errno);
  return {};
}

std::expected<fsx::UniqueFd, int> DiskFileSystem::lock_directory(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  auto dir = open_whole(base, relative, Missing::Fail);
  if (!dir) return std::unexpected(dir.error());
  if (::flock(dir->get(), LOCK_EX | LOCK_NB) != 0) return std::unexpected(errno);
  return std::move(*dir);
}

std::optional<std::uint64_t> DiskFileSystem::device(const std::filesystem::path& base) const {
  struct stat info{};
  if (::stat(base.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_dev);
}

std::expected<std::vector<fsx::DirEntry>, std::string> DiskFileSystem::list_records(
    const std::filesystem::path& dir) const {
  return fsx::list_dir(dir);
}

bool DiskFileSystem::is_record_directory(const std::filesystem::path& path) const {
  return fsx::is_directory(path);
}

std::expected<std::string, std::string> DiskFileSystem::read_record(
    const std::filesystem::path& path) const {
  return fsx::read_text(path, kMaxRecordBytes);
}

const FileSystem& disk() {
  static const DiskFileSystem instance;
  return instance;
}

}  // namespace store
