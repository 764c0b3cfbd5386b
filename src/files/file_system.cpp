#include "files/file_system.hpp"

#include <fmt/format.h>

#include "files/path_text.hpp"

namespace files {

std::string too_large_text(std::uint64_t size, std::uint64_t max_bytes) {
  return fmt::format("文件过大（{} 字节，上限 {} MiB）", size, max_bytes >> 20);
}

std::expected<std::vector<std::string>, Error> FileSystem::list_record_names(
    const std::filesystem::path& dir) const {
  auto listed = list_records(dir);
  if (!listed) return std::unexpected(std::move(listed.error()));
  std::vector<std::string> names;
  names.reserve(listed->size());
  for (auto& entry : *listed) names.push_back(std::move(entry.name));
  return names;
}

std::vector<std::optional<Stamp>> FileSystem::record_stamps(
    const std::filesystem::path& dir, std::span<const std::string_view> names) const {
  std::vector<std::optional<Stamp>> stamps;
  stamps.reserve(names.size());
  for (const auto name : names) stamps.push_back(record_stamp(dir / utf8_path(name)));
  return stamps;
}

std::vector<std::pair<EntryKind, std::optional<Stamp>>> FileSystem::entry_stamps(
    const std::filesystem::path& base, const std::filesystem::path& dir,
    std::span<const std::string_view> names) const {
  std::vector<std::pair<EntryKind, std::optional<Stamp>>> found;
  found.reserve(names.size());
  for (const auto name : names) {
    const auto relative = dir / utf8_path(name);
    const EntryKind kind = this->kind(base, relative);
    found.emplace_back(kind, kind == EntryKind::Regular || kind == EntryKind::Directory
                                 ? record_stamp(base / relative)
                                 : std::nullopt);
  }
  return found;
}

}  // namespace files
