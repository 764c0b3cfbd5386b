#pragma once

// The workspace as the run sees it: its root and layout, the one path by
// which derived files are written (atomic, durable where required, through no
// link), and the state files whose content no run can regenerate
// (graph.json, record_topics.json, metrics.json). Every stage works through
// one Workspace instead of a root path.

#include <expected>
#include <filesystem>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
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

class Workspace {
 public:
  // `hook`, when given, watches every file-layer step (tests only).
  explicit Workspace(std::filesystem::path root, FileHook* hook = nullptr);

  const std::filesystem::path& root() const { return tree_.base(); }

  // The root joined with `relative`: how paths are shown in messages.
  std::filesystem::path shown(const std::filesystem::path& relative) const {
    return tree_.shown(relative);
  }

  // The file layer below the root.
  const Tree& files() const { return tree_; }

  // The file layer below another directory of the run (the golden directory),
  // with the same rules and hook.
  Tree files_at(std::filesystem::path base) const { return Tree(std::move(base), hook_); }

  // Creates .system and its goals, topics and stats directories, in that
  // order; fails with "创建 .system 目录失败: " and the system's text.
  std::expected<void, std::string> ensure_system_dirs() const;

  // Replaces the derived file `relative` atomically, unless it already holds
  // exactly `bytes`; fails with `failure_prefix` and the store error's text
  // ("IO 错误: …").
  std::expected<void, std::string> write(const std::filesystem::path& relative,
                                         std::string_view bytes,
                                         std::string_view failure_prefix) const;

  // Reads the state file `relative` and parses it with `parse` (text →
  // std::optional<T>); anything but a valid file gives `T{}`. What stood
  // there is remembered for the next save of the file.
  template <typename T, typename Parse>
  T load_state(const std::filesystem::path& relative, Parse&& parse) {
    auto [found, bytes] = read_state(relative);
    std::optional<T> parsed;
    if (found == Found::Valid) parsed = std::forward<Parse>(parse)(bytes);
    if (found == Found::Valid && !parsed) found = Found::Unreadable;
    found_[relative] = found;
    return parsed ? std::move(*parsed) : T{};
  }

  // The same for a state file too large to stand whole in memory: `parse`
  // reads the open file itself (int fd → std::optional<T>).
  template <typename T, typename Parse>
  T load_state_from_file(const std::filesystem::path& relative, Parse&& parse) {
    auto [found, fd] = open_state(relative);
    std::optional<T> parsed;
    if (found == Found::Valid) parsed = std::forward<Parse>(parse)(fd.get());
    if (found == Found::Valid && !parsed) found = Found::Unreadable;
    found_[relative] = found;
    return parsed ? std::move(*parsed) : T{};
  }

  // What the last load of `relative` found; Missing before any load.
  Found found(const std::filesystem::path& relative) const;

  // Replaces the state file `relative` with `bytes`, durably. When its last
  // load found it unreadable, its bytes are first copied (durably) beside it
  // as "<name>.bad-<UTC YYYYMMDDTHHMMSSZ>" and "[warn] 无法读取 PATH，已保留副本:
  // COPY" goes to `err`. Fails with "保留副本失败: COPY: " and the system's text
  // when that copy cannot be made (the file is then left as it is), else with
  // `failure_prefix` and the store error's text.
  std::expected<void, std::string> save_state(const std::filesystem::path& relative,
                                              std::string_view bytes,
                                              std::string_view failure_prefix, std::ostream& err);

  // The same, with the bytes made by `produce` while they are written.
  std::expected<void, std::string> save_state(const std::filesystem::path& relative,
                                              const Producer& produce,
                                              std::string_view failure_prefix, std::ostream& err);

  // True when the state file `relative` holds exactly the bytes the last save
  // of it in this run wrote, so the value saved stands for a reload.
  bool holds_saved(const std::filesystem::path& relative) const;

 private:
  // Whether the regular file `relative` holds exactly `bytes`.
  bool holds(const std::filesystem::path& relative, std::string_view bytes) const;
  // Found::Valid with the bytes when a regular file could be read.
  std::pair<Found, std::string> read_state(const std::filesystem::path& relative) const;
  // Found::Valid with the open file when it is a regular file.
  std::pair<Found, fsx::UniqueFd> open_state(const std::filesystem::path& relative) const;
  std::expected<void, std::string> keep_copy(const std::filesystem::path& relative,
                                             std::ostream& err) const;

  Tree tree_;
  FileHook* hook_;
  std::map<std::filesystem::path, Found> found_;
  // State files already copied in this run: one copy and one warning each.
  std::set<std::filesystem::path> kept_;
  // Size and hash of the bytes each state file was last saved with.
  std::map<std::filesystem::path, std::pair<std::size_t, std::uint64_t>> saved_;
};

}  // namespace store
