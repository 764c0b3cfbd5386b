#include "store/fault_file_system.hpp"

namespace store {

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
    case FileStep::Rename:
      return "rename";
    case FileStep::SyncDirectory:
      return "sync-dir";
  }
  return "?";
}

std::optional<std::string> FaultFileSystem::watch(FileStep step,
                                                  const std::filesystem::path& path) const {
  if (const auto error = watch_(step, path)) return fsx::errno_text(*error);
  return std::nullopt;
}

std::optional<StepFailure> FaultFileSystem::watch_step(FileStep step,
                                                       const std::filesystem::path& path) const {
  if (const auto error = watch_(step, path)) return step_failure(*error);
  return std::nullopt;
}

std::expected<void, StepFailure> FaultFileSystem::create_directories(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  // Only a directory about to be made is a step; most calls find it there.
  if (inner_.kind(base, relative) != EntryKind::Directory) {
    if (auto failed = watch_step(FileStep::MakeDirectory, base / relative)) {
      return std::unexpected(std::move(*failed));
    }
  }
  return inner_.create_directories(base, relative);
}

std::expected<void, StepFailure> FaultFileSystem::create_file(const std::filesystem::path& base,
                                                              const std::filesystem::path& relative,
                                                              const Producer& produce) const {
  const auto path = base / relative;
  if (auto failed = watch_step(FileStep::CreateFile, path)) {
    return std::unexpected(std::move(*failed));
  }
  // Passes the bytes on and stops taking them once the watch fails the
  // write half way.
  struct HalfWay final : ByteSink {
    HalfWay(ByteSink& out, const FaultFileSystem& fs, const std::filesystem::path& path)
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
    ByteSink& out_;
    const FaultFileSystem& fs_;
    const std::filesystem::path& path_;
    bool watched_ = false;
    std::optional<std::string> failed_;
  };
  std::optional<std::string> failed;
  auto made = inner_.create_file(base, relative, [&](ByteSink& sink) {
    HalfWay half_way(sink, *this, path);
    produce(half_way);
    failed = half_way.failed_;
  });
  if (made && failed) {
    (void)inner_.remove(base, relative);
    return std::unexpected(StepFailure{std::move(*failed)});
  }
  return made;
}

std::expected<void, std::string> FaultFileSystem::remove(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  if (auto failed = watch(FileStep::RemoveName, base / relative)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.remove(base, relative);
}

std::expected<void, StepFailure> FaultFileSystem::rename(const std::filesystem::path& base,
                                                         const std::filesystem::path& from,
                                                         const std::filesystem::path& to,
                                                         bool keep_existing) const {
  if (auto failed = watch_step(FileStep::Rename, base / to)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.rename(base, from, to, keep_existing);
}

std::expected<void, std::string> FaultFileSystem::sync_file_system(
    const std::filesystem::path& base) const {
  if (auto failed = watch(FileStep::SyncFileSystem, base))
    return std::unexpected(std::move(*failed));
  return inner_.sync_file_system(base);
}

std::expected<void, std::string> FaultFileSystem::sync_directory(
    const std::filesystem::path& base, const std::filesystem::path& relative) const {
  if (auto failed = watch(FileStep::SyncDirectory, base / relative)) {
    return std::unexpected(std::move(*failed));
  }
  return inner_.sync_directory(base, relative);
}

}  // namespace store
