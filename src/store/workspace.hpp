#pragma once

// The workspace as the run sees it: its root and layout, the file system it
// lies on, and the inputs whose content no run can regenerate (graph.json,
// record_topics.json, metrics.json and goal files whose lines are kept): what
// each load found, which file it was and what it held, so that the commit can
// keep a copy of an unreadable one and refuse to replace one edited during
// the run.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "store/tree.hpp"
#include "util/content_hash.hpp"

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

// An input as the run loaded it.
struct LoadedInput {
  // Which file it was; nothing when none stood there.
  std::optional<FileIdentity> identity;
  // The hash of all its bytes, as they were read; nothing when they could not
  // all be read.
  std::optional<std::uint64_t> hash;
};

class Workspace {
 public:
  explicit Workspace(std::filesystem::path root, const FileSystem& fs = disk());

  const std::filesystem::path& root() const { return tree_.base(); }
  const FileSystem& file_system() const { return tree_.file_system(); }

  // The root joined with `relative`: how paths are shown in messages.
  std::filesystem::path shown(const std::filesystem::path& relative) const {
    return tree_.shown(relative);
  }

  // The file layer below the root.
  const Tree& files() const { return tree_; }

  // The file layer below another directory of the run (the golden directory).
  Tree files_at(std::filesystem::path base) const { return Tree(std::move(base), file_system()); }

  // Creates .system and its goals, topics and stats directories, in that
  // order; fails with "创建 .system 目录失败: " and the system's text.
  std::expected<void, std::string> ensure_system_dirs() const;

  // Reads the state file `relative` and parses it with `parse` (text →
  // std::optional<T>); anything but a valid file gives `T{}`. What stood
  // there, and which file it was, is remembered for the commit.
  template <typename T, typename Parse>
  T load_state(const std::filesystem::path& relative, Parse&& parse) {
    auto [found, fd] = open_state(relative);
    std::optional<T> parsed;
    if (found == Found::Valid) {
      if (auto bytes = fsx::read_all(fd.get())) {
        note_hash(relative, fsx::content_hash(*bytes));
        parsed = std::forward<Parse>(parse)(*bytes);
      }
    }
    return settle<T>(relative, found, std::move(parsed));
  }

  // The same for a state file too large to stand whole in memory: `parse`
  // reads the open file in pieces (fsx::Utf8Reader& → std::optional<T>).
  template <typename T, typename Parse>
  T load_state_from_file(const std::filesystem::path& relative, Parse&& parse) {
    auto [found, fd] = open_state(relative);
    std::optional<T> parsed;
    if (found == Found::Valid) {
      // Hashed as it is parsed: the file is read once.
      fsx::ContentHash hash;
      fsx::Utf8Reader reader(fd.get(), &hash);
      parsed = std::forward<Parse>(parse)(reader);
      // A parse that stopped early (bad bytes, bad JSON) left the rest
      // unread; the commit compares the whole file.
      if (fsx::hash_rest(fd.get(), hash)) note_hash(relative, hash.digest());
    }
    return settle<T>(relative, found, std::move(parsed));
  }

  // What the last load of `relative` found; Missing before any load.
  Found found(const std::filesystem::path& relative) const;

  // Reads the UTF-8 file `relative` as an input whose content the run keeps
  // (a goal file it adds lines to), remembering which file it was and what
  // it held.
  std::expected<std::string, std::string> read_input(const std::filesystem::path& relative);

  // Every input loaded or read, by its path in normal form.
  const std::map<std::filesystem::path, LoadedInput>& inputs() const { return inputs_; }

 private:
  // Found::Valid with the open file when a regular file stands there; the
  // file's identity is noted as an input.
  std::pair<Found, fsx::UniqueFd> open_state(const std::filesystem::path& relative);

  void note_hash(const std::filesystem::path& relative, std::uint64_t hash) {
    inputs_[relative.lexically_normal()].hash = hash;
  }

  template <typename T>
  T settle(const std::filesystem::path& relative, Found found, std::optional<T> parsed) {
    if (found == Found::Valid && !parsed) found = Found::Unreadable;
    found_[relative.lexically_normal()] = found;
    return parsed ? std::move(*parsed) : T{};
  }

  Tree tree_;
  std::map<std::filesystem::path, Found> found_;
  std::map<std::filesystem::path, LoadedInput> inputs_;
};

}  // namespace store
