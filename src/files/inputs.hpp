#pragma once

// The files a run read and may replace, whose content no run can regenerate
// (graph.json, record_topics.json, metrics.json, goal files whose lines are
// kept): which file each was, what it held and whether it could be read, so
// that the commit can keep a copy of an unreadable one and refuse to replace
// one edited during the run.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>

#include "files/file_system.hpp"

namespace files {

// An input as the run loaded it.
struct LoadedInput {
  // Which file it was; nothing when none stood there.
  std::optional<FileIdentity> identity;
  // The hash of all its bytes, as they were read; nothing when they could not
  // all be read.
  std::optional<std::uint64_t> hash;
  // A regular file stood there that its loader could not read or parse.
  bool unreadable = false;
};

class Inputs {
 public:
  // The entry of `relative`, made empty when it is loaded anew.
  LoadedInput& reset(const std::filesystem::path& relative) {
    return inputs_[relative.lexically_normal()] = {};
  }
  LoadedInput& at(const std::filesystem::path& relative) {
    return inputs_[relative.lexically_normal()];
  }

  // Whether the last load of `relative` found it unreadable.
  bool unreadable(const std::filesystem::path& relative) const {
    const auto found = inputs_.find(relative.lexically_normal());
    return found != inputs_.end() && found->second.unreadable;
  }

  // Every input, by its path in normal form.
  const std::map<std::filesystem::path, LoadedInput>& all() const { return inputs_; }

 private:
  std::map<std::filesystem::path, LoadedInput> inputs_;
};

}  // namespace files
