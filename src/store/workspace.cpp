#include "store/workspace.hpp"

#include "store/layout.hpp"
#include "util/text.hpp"

namespace store {

Workspace::Workspace(std::filesystem::path root, const files::FileSystem& fs)
    : tree_(std::move(root), fs) {}

std::expected<void, std::string> Workspace::ensure_system_dirs() const {
  for (const auto dir : {kSystemDir, kGoalsDir, kTopicsDir, kStatsDir}) {
    if (auto made = tree_.create_directories(dir); !made) {
      return std::unexpected("创建 .system 目录失败: " + made.error());
    }
  }
  return {};
}

std::pair<Found, std::unique_ptr<files::ReadFile>> Workspace::open_state(
    const std::filesystem::path& relative) {
  auto& input = inputs_.reset(relative);
  switch (tree_.kind(relative)) {
    case files::EntryKind::Missing:
      return {Found::Missing, nullptr};
    case files::EntryKind::Regular:
      break;
    default:
      return {Found::NotRegular, nullptr};
  }
  auto file = tree_.open_read(relative);
  if (!file) {
    input.unreadable = true;
    return {Found::Unreadable, nullptr};
  }
  // Taken from the open file: whatever replaces it after this point is a
  // different file at the commit.
  input.identity = (*file)->identity();
  return {Found::Valid, std::move(*file)};
}

std::expected<std::string, std::string> Workspace::read_input(
    const std::filesystem::path& relative) {
  auto& input = inputs_.reset(relative);
  auto file = tree_.open_read(relative);
  if (!file) return std::unexpected(file.error());
  input.identity = (*file)->identity();
  auto bytes = files::read_all(**file);
  if (bytes) input.hash = hashing::content_hash(*bytes);
  if (bytes && !text::is_valid_utf8(*bytes)) {
    return std::unexpected(std::string(files::kNotUtf8));
  }
  return bytes;
}

}  // namespace store
