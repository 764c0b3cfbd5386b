#pragma once

// One run, one commit. Stages compute the files they would write; the writer
// stages each stage's files beside their targets as the stage finishes, and
// only when every stage has succeeded flushes them all and renames them over
// their targets. A run that fails, is refused or is interrupted before that
// replaces nothing.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "store/workspace.hpp"

namespace store {

// What a file is to the run. State files hold what no run can regenerate; an
// unreadable one is kept as a copy before it is replaced.
enum class FileClass { Goal, Derived, State, Golden };

// A file a stage would write.
struct OutputFile {
  FileClass file_class = FileClass::Derived;
  // Below the workspace root; for FileClass::Golden, below the golden
  // directory.
  std::filesystem::path path;
  // The bytes, or what streams them (a graph of tens of megabytes must not
  // stand in memory twice).
  std::variant<std::string, Producer> content;
  // The stage's failure text: this, then the system's text.
  std::string failure_prefix;
  // When not empty, the failure text for a directory on the way that cannot
  // be made.
  std::string directory_failure_prefix = {};
  // Where the bytes (as a string) say when they were made, as an offset and a
  // length: a file on disk that differs only there holds the same content.
  std::optional<std::pair<std::size_t, std::size_t>> stamp = std::nullopt;
  // The content under the stamps it had before the run: a file on disk that
  // holds exactly these bytes holds the same content.
  std::optional<Producer> as_stamped_before = std::nullopt;
  // The goal or topic name the file is named after. When the file system
  // refuses that name (a character FAT cannot hold), the file is skipped with
  // the unsafe-name warning rather than failing the run; a name of the
  // command's own that is refused fails it.
  std::string user_name = {};
};

using OutputFiles = std::vector<OutputFile>;

// The failure text of a state input that changed during the run.
std::string changed_input_text(const std::filesystem::path& relative);

// The failure text of a temporary that no longer stands under its name at
// the commit (`temporary` as shown).
std::string moved_temporary_text(const std::filesystem::path& temporary);

class Writer {
 public:
  // Kept-copy warnings go to `err`. `golden` is the directory golden files go
  // below, when the run exports them.
  Writer(Workspace& workspace, std::optional<std::filesystem::path> golden, std::ostream& err);
  // Removes every temporary not yet renamed.
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Writes each file to its temporary "NAME.tmp" beside its target, unless the
  // target already holds its content (its bytes, or the same but for the
  // stamps): a file whose content did not change keeps its bytes, stamps and
  // modification time. Fails with the file's failure text; an empty text when
  // a signal was noted.
  std::expected<void, std::string> stage(OutputFiles files);

  // Flushes every temporary, checks that no input the run loaded has changed,
  // then renames the temporaries over their targets in the order staged and
  // flushes their directories. Before the first rename a failure replaces
  // nothing; the texts are as for `stage`.
  std::expected<void, std::string> commit();

  // The files staged (after the commit: created or replaced), kept copies and
  // golden files included, and the files that already held their content.
  std::size_t written() const { return staged_.size() - superseded_; }
  std::size_t unchanged() const { return unchanged_; }

  // Whether the file `relative` below the root was skipped because the file
  // system refused its name.
  bool refused(const std::filesystem::path& relative) const {
    return refused_.contains(relative.lexically_normal());
  }

 private:
  // How a staged file reaches its target.
  enum class Commit {
    // Renamed over the target.
    Replace,
    // Renamed to the target, which must still be free: a kept copy.
    KeepExisting,
    // Written at the target itself, which was free: a kept copy where the
    // file system cannot rename without replacing. Removed if the run fails.
    InPlace,
    // Staged again later in the run, which wins; its temporary is the later
    // one's.
    Superseded,
  };

  struct Staged {
    const Tree* tree;
    std::filesystem::path target;
    std::filesystem::path temporary;
    std::string failure_prefix;
    Commit how = Commit::Replace;
  };

  std::expected<void, std::string> stage_one(const OutputFile& file);
  // `user_name` as in OutputFile.
  std::expected<void, std::string> stage_bytes(const Tree& tree,
                                               const std::filesystem::path& target,
                                               const std::variant<std::string, Producer>& content,
                                               const std::string& failure_prefix, Commit how,
                                               const std::string& user_name = {});
  // Skips the file `target` below `tree`, whose name the file system refused.
  void refuse(const Tree& tree, const std::filesystem::path& target, const std::string& user_name);
  // Stages a copy of the unreadable state file `relative` beside it.
  std::expected<void, std::string> keep_copy(const std::filesystem::path& relative);
  // Whether the directory `dir` below the root renames a file to a free name
  // without replacing; asked once per run, by renaming a probe.
  bool renames_keeping_existing(const std::filesystem::path& dir);
  std::expected<void, std::string> check_inputs() const;
  // Every temporary still stands under its own name: on some disks another
  // name can take its place.
  std::expected<void, std::string> check_temporaries() const;
  void remove_temporaries();

  Workspace& workspace_;
  std::optional<Tree> golden_;
  std::ostream& err_;
  std::vector<Staged> staged_;
  // Where each target is in staged_, by its tree and its path in normal form.
  std::map<std::pair<const Tree*, std::filesystem::path>, std::size_t> staged_at_;
  std::size_t superseded_ = 0;
  // Targets below the root already staged or taken by a kept copy.
  std::set<std::filesystem::path> taken_;
  std::set<std::filesystem::path> refused_;
  std::map<std::filesystem::path, bool> renames_keeping_existing_;
  std::size_t renamed_ = 0;
  std::size_t unchanged_ = 0;
};

}  // namespace store
