#pragma once

// File names as the file system a workspace lies on tells them apart. USB
// drives formatted FAT or exFAT, and the default disks of Windows and macOS,
// take "Work.md" and "work.md" for one file: two goals or topics that differ
// only in case would then write one file twice, and the second temporary
// would replace the first in the middle of the run.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "files/tree.hpp"

namespace files {

// Whether the directory `dir` below `tree` takes two names that differ only in
// case for one file. It is asked, by making a file and looking it up spelled
// in the other case: the platform does not tell (a folder may be mounted from
// anywhere), and neither do file identities (a FUSE FAT driver numbers each
// spelling of one file differently). A directory that cannot be asked counts
// as telling case apart; writing into it will fail on its own.
bool folds_case(const Tree& tree, const std::filesystem::path& dir);

// The file names one stage gives out below one directory, in the stage's
// order.
class FileNames {
 public:
  // `folds` tells whether the directory folds case; it is asked at most once,
  // and only when two names differ in case alone.
  explicit FileNames(std::function<bool()> folds) : folds_(std::move(folds)) {}

  // The names of the directory `dir` below `tree`.
  static FileNames of(const Tree& tree, std::filesystem::path dir);

  // Takes the file `relative` (below the directory) for the goal or topic
  // `name`. Returns the name that took the same file earlier under another
  // spelling, which this directory cannot tell apart; nothing when the file is
  // `name`'s (the same spelling twice is one file, as on any disk).
  std::optional<std::string> take(const std::filesystem::path& relative, std::string_view name);

 private:
  bool folds();

  std::function<bool()> folds_;
  std::optional<bool> answer_;
  // Every path taken, in normal form; the first name of each case folding.
  std::set<std::string, std::less<>> paths_;
  std::map<std::string, std::string, std::less<>> by_folded_;
};

// True when a goal or topic name must not become a file path: `name` + ".md"
// would be absolute or climb out through a ".." segment, would replace the
// directory's "_index.md", holds a control character (a NUL would cut the
// path short, a line break would forge lines wherever the name is listed), or
// has a segment the file system cannot name (longer than 255 bytes with the
// temporary file's ".md.tmp").
bool is_unsafe_name(std::string_view name);

// The warning for an unsafe name, its control characters escaped.
std::string unsafe_name_warning(std::string_view name);

// The warning for `name`, skipped because this file system takes its file
// name for `earlier`'s.
std::string case_clash_warning(std::string_view name, std::string_view earlier);

}  // namespace files
