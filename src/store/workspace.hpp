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
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "files/inputs.hpp"
#include "files/reading.hpp"
#include "files/tree.hpp"
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

class Workspace {
 public:
  explicit Workspace(std::filesystem::path root, const files::FileSystem& fs);

  const std::filesystem::path& root() const { return tree_.base(); }
  const files::FileSystem& file_system() const { return tree_.file_system(); }

  // The root joined with `relative`: how paths are shown in messages.
  std::string shown(const std::filesystem::path& relative) const { return tree_.shown(relative); }

  // The file layer below the root.
  const files::Tree& files() const { return tree_; }

  // Creates .system and its goals, topics and stats directories, in that
  // order; fails with "创建 .system 目录失败: " and the system's text.
  std::expected<void, std::string> ensure_system_dirs() const;

  // Reads the state file `relative` and parses it with `parse` (text →
  // std::optional<T>); anything but a valid file gives `T{}`. What stood
  // there, and which file it was, is remembered for the commit.
  template <typename T, typename Parse>
  T load_state(const std::filesystem::path& relative, Parse&& parse) {
    auto [found, file] = open_state(relative);
    std::optional<T> parsed;
    if (found == Found::Valid) {
      if (auto bytes = files::read_all(*file)) {
        inputs_.at(relative).hash = hashing::content_hash(*bytes);
        parsed = std::forward<Parse>(parse)(*bytes);
      }
    }
    return settle<T>(relative, found, std::move(parsed));
  }

  // The same for a state file too large to stand whole in memory: `parse`
  // reads the open file in pieces (files::Utf8Reader& → std::optional<T>).
  template <typename T, typename Parse>
  T load_state_from_file(const std::filesystem::path& relative, Parse&& parse) {
    auto [found, file] = open_state(relative);
    std::optional<T> parsed;
    if (found == Found::Valid) {
      // Hashed as it is parsed: the file is read once.
      hashing::ContentHash hash;
      files::Utf8Reader reader(*file, &hash);
      parsed = std::forward<Parse>(parse)(reader);
      // A parse that stopped early (bad bytes, bad JSON) left the rest
      // unread; the commit compares the whole file.
      if (files::hash_rest(*file, hash)) inputs_.at(relative).hash = hash.digest();
    }
    return settle<T>(relative, found, std::move(parsed));
  }

  // The same, but when the file's bytes hash to `known_hash`, the value
  // `known` gives (nothing when it has none) stands for the parse: the bytes
  // are read to be hashed, never parsed.
  template <typename T, typename Parse, typename Known>
  T load_state_from_file(const std::filesystem::path& relative, Parse&& parse,
                         std::uint64_t known_hash, Known&& known) {
    {
      auto [found, file] = open_state(relative);
      if (found != Found::Valid) return settle<T>(relative, found, std::nullopt);
      hashing::ContentHash hash;
      if (files::hash_rest(*file, hash) && hash.digest() == known_hash) {
        if (std::optional<T> held = std::forward<Known>(known)()) {
          inputs_.at(relative).hash = known_hash;
          return settle<T>(relative, found, std::move(held));
        }
      }
    }
    // Edited since, or what stood for it is unusable: the file itself, from
    // the start.
    return load_state_from_file<T>(relative, std::forward<Parse>(parse));
  }

  // Reads the UTF-8 file `relative` as an input whose content the run keeps
  // (a goal file it adds lines to), remembering which file it was and what
  // it held.
  std::expected<std::string, std::string> read_input(const std::filesystem::path& relative);

  // Every input loaded or read: which file it was, what it held, whether it
  // could be read.
  const files::Inputs& inputs() const { return inputs_; }

 private:
  // Found::Valid with the open file when a regular file stands there; the
  // file's identity is noted as an input.
  std::pair<Found, std::unique_ptr<files::ReadFile>> open_state(
      const std::filesystem::path& relative);

  template <typename T>
  T settle(const std::filesystem::path& relative, Found found, std::optional<T> parsed) {
    if (found == Found::Valid && !parsed) inputs_.at(relative).unreadable = true;
    return parsed ? std::move(*parsed) : T{};
  }

  files::Tree tree_;
  files::Inputs inputs_;
};

}  // namespace store
