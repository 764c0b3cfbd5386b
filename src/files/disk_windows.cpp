// The disk as Windows shows it. Below a base no link or junction is followed:
// every component on the way is looked at without following reparse points,
// and one that stands for another name (IsReparseTagNameSurrogate: symbolic
// links, junctions) is refused as a link is on Linux. Other reparse points
// (compressed, deduplicated and cloud files) are ordinary files. Every path
// goes to the system in the "\\?\" form, so long roots work.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "files/disk.hpp"
#include "files/long_path.hpp"
#include "files/windows_names.hpp"
#include "util/text.hpp"
#include "util/utf16.hpp"

namespace files {
namespace {

constexpr std::u16string_view kLockName = u".backfill-workspace.lock";

std::wstring wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }

std::u16string u16(std::wstring_view s) { return std::u16string(s.begin(), s.end()); }

// The system's text for `error`, in UTF-8, without its line break.
std::string error_text(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer != nullptr) {
    text = text::utf8_from_utf16(std::u16string_view(reinterpret_cast<const char16_t*>(buffer),
                                                     static_cast<std::size_t>(length)));
  }
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "Windows error " + std::to_string(error);
  return text;
}

ErrorKind kind_of_error(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ErrorKind::NotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return ErrorKind::Busy;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return ErrorKind::NameRefused;
    default:
      return ErrorKind::Other;
  }
}

Error error_of(DWORD error) { return {kind_of_error(error), error_text(error)}; }

std::unexpected<Error> failure(DWORD error) { return std::unexpected(error_of(error)); }

std::unexpected<Error> link_failure() {
  return std::unexpected(Error{ErrorKind::Link, error_text(ERROR_CANT_ACCESS_FILE)});
}

std::unexpected<Error> refused_name(std::string_view name) {
  (void)name;
  return std::unexpected(Error{ErrorKind::NameRefused, error_text(ERROR_INVALID_NAME)});
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = std::exchange(other.h_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }
  ~Handle() { reset(); }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  void reset() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// `path` made absolute by the system and put in the "\\?\" form.
std::wstring system_path(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide(extended_length_path(u16(given)));
  std::wstring full(needed, L'\0');
  const DWORD got = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  full.resize(got);
  return wide(extended_length_path(u16(full)));
}

// The components of a path below the base, without "." and empty ones; a path
// that is absolute or climbs with ".." is refused.
std::expected<std::vector<std::wstring>, Error> components(const std::filesystem::path& relative) {
  std::vector<std::wstring> parts;
  if (relative.has_root_path()) return failure(ERROR_BAD_PATHNAME);
  for (const auto& part : relative) {
    const std::wstring& name = part.native();
    if (name.empty() || name == L".") continue;
    if (name == L"..") return failure(ERROR_BAD_PATHNAME);
    parts.push_back(name);
  }
  return parts;
}

struct Found {
  DWORD attributes = 0;
  DWORD reparse_tag = 0;
};

// What stands at `path`, not following it.
std::optional<Found> look(const std::wstring& path, DWORD* error = nullptr) {
  WIN32_FIND_DATAW data{};
  const HANDLE find =
      FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = GetLastError();
    return std::nullopt;
  }
  FindClose(find);
  return Found{data.dwFileAttributes, data.dwReserved0};
}

bool is_link(const Found& found) {
  return (found.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(found.reparse_tag);
}

// The system path of `relative` below `base`, every directory on the way
// checked to be no link; the last component is left to the caller.
struct Walked {
  std::wstring path;
  std::wstring name;
};

std::expected<Walked, Error> walk(const std::filesystem::path& base,
                                  const std::filesystem::path& relative) {
  auto parts = components(relative);
  if (!parts) return std::unexpected(parts.error());
  std::wstring path = system_path(base);
  if (parts->empty()) return Walked{path, {}};
  for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
    path += L'\\';
    path += (*parts)[i];
    DWORD error = 0;
    const auto found = look(path, &error);
    if (!found) return failure(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    if (is_link(*found)) return link_failure();
    if ((found->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return failure(ERROR_DIRECTORY);
  }
  path += L'\\';
  path += parts->back();
  return Walked{std::move(path), parts->back()};
}

std::string utf8_name(std::wstring_view name) {
  return text::to_valid_utf8(text::utf8_from_utf16(
      std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size())));
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
  // FILETIME counts 100 ns from 1601; the identity counts from 1970.
  constexpr std::int64_t kEpochGap = 116444736000000000;
  const std::int64_t ticks =
      static_cast<std::int64_t>(
          (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
          info.ftLastWriteTime.dwLowDateTime) -
      kEpochGap;
  std::int64_t seconds = ticks / 10'000'000;
  std::int64_t rest = ticks % 10'000'000;
  if (rest < 0) {
    rest += 10'000'000;
    --seconds;
  }
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
          (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow, seconds,
          rest * 100};
}

std::optional<FileIdentity> identity_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(handle, &info) == 0) return std::nullopt;
  return identity_of(info);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `path` for reading without following a link there; a reparse point
// that is no link (a cloud or deduplicated file) is opened again, followed.
std::expected<Handle, Error> open_no_link(const std::wstring& path, DWORD flags) {
  Handle handle(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                            flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return failure(GetLastError());
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag) != 0 &&
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (IsReparseTagNameSurrogate(tag.ReparseTag)) return link_failure();
    handle = Handle(
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!handle) return failure(GetLastError());
  }
  return handle;
}

class DiskReadFile final : public ReadFile {
 public:
  explicit DiskReadFile(Handle handle) : handle_(std::move(handle)) {}
  std::expected<std::size_t, Error> read(std::span<char> buffer) override {
    DWORD got = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    if (::ReadFile(handle_.get(), buffer.data(), wanted, &got, nullptr) == 0) {
      return failure(GetLastError());
    }
    return static_cast<std::size_t>(got);
  }
  std::optional<FileIdentity> identity() const override { return identity_of(handle_.get()); }

 private:
  Handle handle_;
};

class DiskLock final : public Lock {
 public:
  explicit DiskLock(Handle handle) : handle_(std::move(handle)) {}

 private:
  Handle handle_;
};

// Writes what it is given into a new file and keeps the first failure.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(HANDLE handle) : handle_(handle) {}
  void put(std::string_view bytes) override {
    while (!error_ && !bytes.empty()) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      if (::WriteFile(handle_, bytes.data(), chunk, &written, nullptr) == 0) {
        error_ = GetLastError();
        return;
      }
      bytes.remove_prefix(written);
    }
  }
  std::optional<DWORD> error() const { return error_; }

 private:
  HANDLE handle_;
  std::optional<DWORD> error_;
};

// A target or a temporary held open by another program (the note
// application, a virus scanner, the search indexer, a sync client) makes a
// rename fail for a moment: it is tried again for about 2 s in all.
bool worth_retrying(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

std::vector<DirEntry> sorted(std::vector<DirEntry> entries) {
  std::ranges::sort(entries, [](const DirEntry& a, const DirEntry& b) {
    if (a.name != b.name) return a.name < b.name;
    return a.path.native() < b.path.native();
  });
  return entries;
}

// The entries of the directory at the system path `dir`, each with its path
// made by `path_of`.
template <typename PathOf>
std::expected<std::vector<DirEntry>, Error> list_at(const std::wstring& dir, PathOf path_of) {
  WIN32_FIND_DATAW data{};
  const std::wstring pattern = dir + L"\\*";
  const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return failure(GetLastError());
  std::vector<DirEntry> entries;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back({utf8_name(name), path_of(std::wstring(name))});
  } while (FindNextFileW(find, &data) != 0);
  const DWORD error = GetLastError();
  FindClose(find);
  if (error != ERROR_NO_MORE_FILES) return failure(error);
  return sorted(std::move(entries));
}

}  // namespace

EntryKind DiskFileSystem::kind(const std::filesystem::path& base,
                               const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return walked.error().kind == ErrorKind::Link ? EntryKind::Link : EntryKind::Missing;
  const auto found = look(walked->path);
  if (!found) return EntryKind::Missing;
  if (is_link(*found)) return EntryKind::Link;
  if ((found->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::Directory;
  if ((found->attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::Other;
  return EntryKind::Regular;
}

std::optional<FileIdentity> DiskFileSystem::identity(const std::filesystem::path& base,
                                                     const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::nullopt;
  const auto found = look(walked->path);
  if (!found || is_link(*found) || (found->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  const auto handle = open_no_link(walked->path, 0);
  if (!handle) return std::nullopt;
  return identity_of(handle->get());
}

std::expected<std::unique_ptr<ReadFile>, Error> DiskFileSystem::open_read(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::unexpected(walked.error());
  auto handle = open_no_link(walked->path, FILE_FLAG_BACKUP_SEMANTICS);
  if (!handle) return std::unexpected(handle.error());
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle->get()) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(handle->get(), &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::unexpected(Error{ErrorKind::NotRegular, std::string(kNotRegular)});
  }
  return std::make_unique<DiskReadFile>(std::move(*handle));
}

std::expected<std::vector<DirEntry>, Error> DiskFileSystem::list(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::unexpected(walked.error());
  if (!walked->name.empty()) {
    const auto found = look(walked->path);
    if (found && is_link(*found)) return link_failure();
  }
  return list_at(walked->path, [&](const std::wstring& name) { return relative / name; });
}

std::expected<void, Error> DiskFileSystem::create_directories(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto parts = components(relative);
  if (!parts) return std::unexpected(parts.error());
  std::wstring path = system_path(base);
  if (CreateDirectoryW(path.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
  }
  for (const auto& part : *parts) {
    path += L'\\';
    path += part;
    const auto found = look(path);
    if (found) {
      if (is_link(*found)) return link_failure();
      if ((found->attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return failure(ERROR_DIRECTORY);
      continue;
    }
    if (windows_refuses_name(utf8_name(part))) return refused_name(utf8_name(part));
    if (CreateDirectoryW(path.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
      return failure(GetLastError());
    }
  }
  return {};
}

std::expected<void, Error> DiskFileSystem::create_file(const std::filesystem::path& base,
                                                       const std::filesystem::path& relative,
                                                       const Producer& produce) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::unexpected(walked.error());
  if (windows_refuses_name(utf8_name(walked->name))) return refused_name(utf8_name(walked->name));
  // CREATE_NEW: whatever stands at the name is never opened, let alone
  // truncated.
  Handle handle(CreateFileW(walked->path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return failure(GetLastError());
  FileSink sink(handle.get());
  produce(sink);
  const std::optional<DWORD> error = sink.error();
  handle.reset();
  if (error) {
    (void)DeleteFileW(walked->path.c_str());
    return failure(*error);
  }
  return {};
}

std::expected<void, Error> DiskFileSystem::remove(const std::filesystem::path& base,
                                                  const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::unexpected(walked.error());
  const auto found = look(walked->path);
  // A link to a directory is a directory entry of its own kind on Windows.
  if (found && is_link(*found) && (found->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    if (RemoveDirectoryW(walked->path.c_str()) == 0) return failure(GetLastError());
    return {};
  }
  if (DeleteFileW(walked->path.c_str()) == 0) return failure(GetLastError());
  return {};
}

std::expected<void, Error> DiskFileSystem::rename(const std::filesystem::path& base,
                                                  const std::filesystem::path& from,
                                                  const std::filesystem::path& to,
                                                  bool keep_existing) const {
  const auto source = walk(base, from);
  if (!source) return std::unexpected(source.error());
  const auto target = walk(base, to);
  if (!target) return std::unexpected(target.error());
  if (windows_refuses_name(utf8_name(target->name))) return refused_name(utf8_name(target->name));
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (keep_existing ? 0 : MOVEFILE_REPLACE_EXISTING);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    if (MoveFileExW(source->path.c_str(), target->path.c_str(), flags) != 0) return {};
    const DWORD error = GetLastError();
    if (keep_existing && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
      return failure(error);
    }
    if (!worth_retrying(error) || std::chrono::steady_clock::now() >= deadline) {
      return failure(error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::expected<void, Error> DiskFileSystem::check_replaceable(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::unexpected(walked.error());
  if (!look(walked->path)) return {};
  // Renaming over a file needs it opened for deletion; a program that holds it
  // without FILE_SHARE_DELETE forbids that until it lets go.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  for (;;) {
    const Handle handle(CreateFileW(walked->path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                    nullptr));
    if (handle) return {};
    const DWORD error = GetLastError();
    if (!worth_retrying(error)) return failure(error);
    if (std::chrono::steady_clock::now() >= deadline) {
      return std::unexpected(Error{ErrorKind::Busy, error_text(error)});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

Fallbacks default_fallbacks() { return Fallbacks::WhereNeeded; }

DiskFileSystem::DiskFileSystem(Fallbacks) : linux_calls_(false) {}

std::expected<void, Error> DiskFileSystem::sync_file_system(const std::filesystem::path&) const {
  // Windows has no flush of a whole volume for a program without
  // administrator rights: the writer flushes each file it staged instead.
  return std::unexpected(Error{ErrorKind::Unsupported, error_text(ERROR_NOT_SUPPORTED)});
}

std::expected<void, Error> DiskFileSystem::sync_file(const std::filesystem::path& base,
                                                     const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative);
  if (!walked) return std::unexpected(walked.error());
  Handle handle(CreateFileW(walked->path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) return failure(GetLastError());
  if (FlushFileBuffers(handle.get()) == 0) return failure(GetLastError());
  return {};
}

std::expected<void, Error> DiskFileSystem::sync_directory(const std::filesystem::path&,
                                                          const std::filesystem::path&) const {
  // A directory's names cannot be flushed on their own; the renames that
  // change them are written through (MOVEFILE_WRITE_THROUGH).
  return {};
}

std::expected<std::unique_ptr<Lock>, Error> DiskFileSystem::lock_directory(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  const auto walked = walk(base, relative / std::filesystem::path(wide(kLockName)));
  if (!walked) return std::unexpected(walked.error());
  // Opened without sharing, so a second run cannot open it; deleted when the
  // handle closes, so no path is left behind, not even by a killed run.
  Handle handle(CreateFileW(walked->path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                            nullptr));
  if (!handle) {
    const DWORD error = GetLastError();
    Error failed = error_of(error);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) {
      failed.kind = ErrorKind::Busy;
    }
    return std::unexpected(std::move(failed));
  }
  return std::make_unique<DiskLock>(std::move(handle));
}

std::optional<std::uint64_t> DiskFileSystem::device(const std::filesystem::path& base) const {
  Handle handle(CreateFileW(system_path(base).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(handle.get(), &info) == 0) return std::nullopt;
  return info.dwVolumeSerialNumber;
}

std::expected<std::vector<DirEntry>, Error> DiskFileSystem::list_records(
    const std::filesystem::path& dir) const {
  return list_at(system_path(dir), [&](const std::wstring& name) { return dir / name; });
}

bool DiskFileSystem::is_record_directory(const std::filesystem::path& path) const {
  const DWORD attributes = GetFileAttributesW(system_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// The stamp of an open file or directory, with times at 100 ns.
std::optional<Stamp> stamp_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandle(handle, &info) == 0 ||
      GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0) {
    return std::nullopt;
  }
  // FILETIME counts 100 ns from 1601; a stamp counts nanoseconds from 1970.
  constexpr std::int64_t kEpochGap = 116444736000000000;
  const auto nanoseconds = [](const LARGE_INTEGER& t) { return (t.QuadPart - kEpochGap) * 100; };
  return Stamp{info.dwVolumeSerialNumber,
               (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
               (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
               nanoseconds(basic.LastWriteTime),
               nanoseconds(basic.ChangeTime),
               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

}  // namespace

std::optional<Stamp> DiskFileSystem::record_stamp(const std::filesystem::path& path) const {
  Handle handle(CreateFileW(system_path(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle || GetFileType(handle.get()) != FILE_TYPE_DISK) return std::nullopt;
  return stamp_of(handle.get());
}

bool DiskFileSystem::keeps_times(const std::filesystem::path& dir) const {
  // The volume's root, which GetVolumeInformationW asks for.
  std::wstring volume(MAX_PATH + 1, L'\0');
  if (GetVolumePathNameW(system_path(dir).c_str(), volume.data(),
                         static_cast<DWORD>(volume.size())) == 0) {
    return false;
  }
  wchar_t name[MAX_PATH + 1] = {};
  if (GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name,
                            MAX_PATH + 1) == 0) {
    return false;
  }
  const std::wstring_view kind(name);
  return kind != L"FAT" && kind != L"FAT32" && kind != L"exFAT";
}

std::filesystem::path DiskFileSystem::canonical(const std::filesystem::path& path) const {
  std::error_code ec;
  auto made = std::filesystem::weakly_canonical(path, ec);
  if (ec) made = std::filesystem::absolute(path, ec).lexically_normal();
  return made;
}

std::expected<std::string, Error> DiskFileSystem::read_record(const std::filesystem::path& path,
                                                              Stamp* stamp) const {
  // Records are read through links, as the user laid them out.
  Handle handle(CreateFileW(system_path(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return failure(GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle.get()) != FILE_TYPE_DISK ||
      GetFileInformationByHandle(handle.get(), &info) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::unexpected(Error{ErrorKind::Other, std::string(kNotRegular)});
  }
  if (stamp != nullptr) {
    const auto taken = stamp_of(handle.get());
    if (!taken) return failure(GetLastError());
    *stamp = *taken;
  }
  const std::uint64_t size =
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > kMaxRecordBytes) {
    return std::unexpected(Error{ErrorKind::Other, too_large_text(size, kMaxRecordBytes)});
  }
  std::string content(static_cast<std::size_t>(size) + 1, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) content.resize(content.size() * 2);
    DWORD got = 0;
    if (::ReadFile(handle.get(), content.data() + used, static_cast<DWORD>(content.size() - used),
                   &got, nullptr) == 0) {
      return failure(GetLastError());
    }
    if (got == 0) break;
    used += got;
    // A file that grows while it is read stops at the limit all the same.
    if (used > kMaxRecordBytes) {
      return std::unexpected(Error{ErrorKind::Other, too_large_text(used, kMaxRecordBytes)});
    }
  }
  content.resize(used);
  if (!text::is_valid_utf8(content)) {
    return std::unexpected(Error{ErrorKind::Other, std::string(kNotUtf8)});
  }
  return content;
}

const FileSystem& disk() {
  static const DiskFileSystem instance;
  return instance;
}

}  // namespace files
