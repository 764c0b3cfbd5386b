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
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "files/inputs.hpp"
#include "files/output_file.hpp"
#include "files/tree.hpp"

namespace files {

// The failure text of a state input that changed during the run.
std::string changed_input_text(const std::filesystem::path& relative);

// The failure text of a temporary that no longer stands under its name at
// the commit (`temporary` as shown).
std::string moved_temporary_text(std::string_view temporary);

class Writer {
 public:
  // Files go below `root`, and golden files below `golden` when the run
  // exports them; `inputs` are the files the run loaded there. Warnings (kept
  // copies, refused names) go to `err`.
  Writer(const Tree& root, const Inputs& inputs, std::optional<std::filesystem::path> golden,
         std::ostream& err);
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

  // Whether the file `relative` below the root is staged to be written, not
  // left as it was for holding its content already.
  bool staged(const std::filesystem::path& relative) const {
    return staged_at_.contains({&root_, relative.lexically_normal()});
  }
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
  // Every staged file and kept copy on disk before the first rename: the
  // file system of each tree flushed whole, or where it cannot be, each file
  // and each directory staged into (and those above it) in turn.
  std::expected<void, std::string> flush_staged() const;
  std::expected<void, std::string> flush_each(const Tree& tree) const;
  std::expected<void, std::string> check_inputs() const;
  // Every temporary still stands under its own name: on some disks another
  // name can take its place.
  std::expected<void, std::string> check_temporaries() const;
  // Fails when a target another program holds open cannot be replaced.
  std::expected<void, std::string> check_targets() const;
  void remove_temporaries();

  const Tree& root_;
  const Inputs& inputs_;
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
  // Directories made or found below a tree this run: thousands of files go
  // into a handful of them, and each look walks the path anew.
  std::set<std::pair<const Tree*, std::filesystem::path>> directories_made_;
  std::size_t renamed_ = 0;
  std::size_t unchanged_ = 0;
};

}  // namespace files
