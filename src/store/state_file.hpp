#pragma once

// The files that hold decisions no run can regenerate: graph.json,
// record_topics.json and metrics.json. Their loaders never fail, so a file
// they cannot read would be replaced by the next save and its content lost;
// instead, the first save after such a load keeps a copy of it beside it.
// Their saves reach the disk before they count.

#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include "store/tree.hpp"

namespace store {

// What a state file's loader found at its path.
enum class Found {
  Missing,
  Valid,
  // A regular file the loader could not read or parse.
  Unreadable,
  // A link, directory or special file: never read and never copied.
  NotRegular,
};

// A loaded state value and what stood at its path.
template <typename T>
struct Loaded {
  T value{};
  Found found = Found::Missing;
};

// Reads the state file `relative` below `tree` and parses it with `parse`
// (text → std::optional<T>); anything but a valid file gives `T{}`.
template <typename T, typename Parse>
Loaded<T> load_state(const Tree& tree, const std::filesystem::path& relative, Parse&& parse) {
  switch (tree.kind(relative)) {
    case EntryKind::Missing:
      return {T{}, Found::Missing};
    case EntryKind::Regular:
      break;
    default:
      return {T{}, Found::NotRegular};
  }
  const auto bytes = tree.read(relative);
  if (!bytes) return {T{}, Found::Unreadable};
  auto parsed = std::forward<Parse>(parse)(*bytes);
  if (!parsed) return {T{}, Found::Unreadable};
  return {std::move(*parsed), Found::Valid};
}

// The name of the copy kept of an unreadable state file: the file name with
// ".bad-" and the UTC time as YYYYMMDDTHHMMSSZ appended.
std::filesystem::path kept_copy_path(const std::filesystem::path& relative);

// Replaces the state file `relative` with `bytes`, durably. When its load
// found it `Unreadable`, its bytes are first copied (durably) to
// kept_copy_path and "[warn] 无法读取 PATH，已保留副本: COPY" goes to `err`.
// Fails with "保留副本失败: COPY: " and the system's text when the copy
// cannot be made (the file is then left as it is), else with
// `failure_prefix` and the store error's text.
std::expected<void, std::string> save_state(const Tree& tree,
                                            const std::filesystem::path& relative,
                                            std::string_view bytes, Found found,
                                            std::string_view failure_prefix, std::ostream& err);

}  // namespace store
