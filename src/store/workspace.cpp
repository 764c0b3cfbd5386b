#include "store/workspace.hpp"

#include "store/layout.hpp"
#include "util/text.hpp"

namespace store {

Workspace::Workspace(std::filesystem::path root, const FileSystem& fs) : tree_(std::move(root), fs) {}

std::expected<void, std::string> Workspace::ensure_system_dirs() const {
  for (const auto dir : {kSystemDir, kGoalsDir, kTopicsDir, kStatsDir}) {
    if (auto made = tree_.create_directories(dir); !made) {
      return std::unexpected("创建 .system 目录失败: " + made.error());
    }
  }
  return {};
}

std::pair<Found, fsx::UniqueFd> Workspace::open_state(const std::filesystem::path& relative) {
  auto& input = inputs_[relative.lexically_normal()];
  input = {};
  switch (tree_.kind(relative)) {
    case EntryKind::Missing:
      return {Found::Missing, fsx::UniqueFd{}};
    case EntryKind::Regular:
      break;
    default:
      return {Found::NotRegular, fsx::UniqueFd{}};
  }
  auto fd = tree_.open_read(relative);
  if (!fd) return {Found::Unreadable, fsx::UniqueFd{}};
  // Taken from the open file: whatever replaces it after this point is a
  // different file at the commit.
  input.identity = identity_of(fd->get());
  return {Found::Valid, std::move(*fd)};
}

Found Workspace::found(const std::filesystem::path& relative) const {
  const auto it = found_.find(relative.lexically_normal());
  return it == found_.end() ? Found::Missing : it->second;
}

std::expected<std::string, std::string> Workspace::read_input(
    const std::filesystem::path& relative) {
  auto& input = inputs_[relative.lexically_normal()];
  input = {};
  auto fd = tree_.open_read(relative);
  if (!fd) return std::unexpected(fd.error());
  input.identity = identity_of(fd->get());
  auto bytes = fsx::read_all(fd->get());
  if (bytes) input.hash = fsx::content_hash(*bytes);
  if (bytes && !text::is_valid_utf8(*bytes)) return std::unexpected(std::string(fsx::kNotUtf8));
  return bytes;
}

}  // namespace store
