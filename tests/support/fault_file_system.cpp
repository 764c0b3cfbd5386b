#include "support/fault_file_system.hpp"

#include <cerrno>
#include <system_error>

namespace testing_support {

std::string_view step_name(FileStep step) {
  switch (step) {
    case FileStep::MakeDirectory:
      return "mkdir";
    case FileStep::RemoveName:
      return "remove";
    case FileStep::CreateFile:
      return "create";
    case FileStep::WriteHalf:
      return "write-half";
    case FileStep::SyncFileSystem:
      return "sync-fs";
    case FileStep::SyncFile:
      return "sync-file";
    case FileStep::Rename:
      return "rename";
    case FileStep::SyncDirectory:
      return "sync-dir";
  }
  return "?";
}

files::Error step_error(FileStep step, int error, bool keep_existing) {
  // Windows numbers its own errors apart from the C library's; the texts of
  // the C library's numbers read as on Linux there too.
#if defined(_WIN32)
  const auto& category = std::generic_category();
#else
  const auto& category = std::system_category();
#endif
  files::Error failure{files::ErrorKind::Other, std::error_code(error, category).message()};
  const bool makes_a_name = step == FileStep::CreateFile || step == FileStep::MakeDirectory;
  if (makes_a_name && (error == EINVAL || error == EILSEQ)) {
    failure.kind = files::ErrorKind::NameRefused;
  }
  if (step == FileStep::Rename && keep_existing && error == EINVAL) {
    failure.kind = files::ErrorKind::Unsupported;
  }
  return failure;
}

std::optional<files::Error> FaultFileSystem::watch(FileStep step, const Path& path,
                                                   bool keep_existing) const {
  if (const auto error = watch_(step, path)) return step_error(step, *error, keep_existing);
  return std::nullopt;
}

std::expected<void, files::Error> FaultFileSystem::create_directories(const Path& base,
                                                                      const Path& relative) const {
  // Only a directory about to be made is a step; most calls find it there.
  if (inner_.kind(base, relative) != files::EntryKind::Directory) {
    if (auto failed = watch(FileStep::MakeDirectory, base / relative)) {
      return std::unexpected(std::move(*failed));
    }
  }
  return inner_.create_directories(base, relative);
}

std::expected<void, files::Error> FaultFileSystem::create_file(
    const Path& base, const Path& relative, const files::Producer& produce) const {
  const auto path = base / relative;
  if (auto failed = watch(FileStep::CreateFile, path)) return std::unexpected(std::move(*failed));
  // Passes the bytes on and stops taking them once the watch fails the
  // write half way.
  struct HalfWay final : files::ByteSink {
    HalfWay(files::ByteSink& out, const FaultFileSystem& fs, const Path& path)
        : out_(out), fs_(fs), path_(path) {}
    void put(std::string_view bytes) override {
      if (failed_) return;
      if (!watched_ && bytes.size() > 1) {
        watched_ = true;
        out_.put(bytes.substr(0, bytes.size() / 2));
        failed_ = fs_.watch(FileStep::WriteHalf, path_);
        if (!failed_) out_.put(bytes.substr(bytes.size() / 2));
        return;
      }
      out_.put(bytes);
    }
    files::ByteSink& out_;
    const FaultFileSystem& fs_;
    const Path& path_;
    bool watched_ = false;
    std::optional<files::Error> failed_;
  };
  std::optional<files::Error> failed;
  auto made = inner_.create_file(base, relative, [&](files::ByteSink& sink) {
    HalfWay half_way(sink, *this, path);
    produce(half_way);
    failed = half_way.failed_;
  });
  if (made && failed) {
    (void)inner_.remove(base, relative);
    return std::unexpected(std::move(*failed));
  }
  return made;
}

std::expected<void, files::Error> FaultFileSystem::remove(const Path& base,
                                                          const Path& relative) const {
  if (auto failed = watch(FileStep::RemoveName, base / relative)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.remove(base, relative);
}

std::expected<void, files::Error> FaultFileSystem::rename(const Path& base, const Path& from,
                                                          const Path& to,
                                                          bool keep_existing) const {
  if (auto failed = watch(FileStep::Rename, base / to, keep_existing)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.rename(base, from, to, keep_existing);
}

std::expected<void, files::Error> FaultFileSystem::sync_file_system(const Path& base) const {
  if (auto failed = watch(FileStep::SyncFileSystem, base)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.sync_file_system(base);
}

std::expected<void, files::Error> FaultFileSystem::sync_file(const Path& base,
                                                             const Path& relative) const {
  if (auto failed = watch(FileStep::SyncFile, base / relative)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.sync_file(base, relative);
}

std::expected<void, files::Error> FaultFileSystem::sync_directory(const Path& base,
                                                                  const Path& relative) const {
  if (auto failed = watch(FileStep::SyncDirectory, base / relative)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.sync_directory(base, relative);
}

}  // namespace testing_support
