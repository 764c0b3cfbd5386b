#pragma once

// The store's file layer. Everything the command creates, writes or loads of
// its own lies below a directory used as given (the workspace root or the
// golden directory); below it, no operation passes through a symbolic link, so
// a link planted in a workspace from elsewhere can neither redirect a write
// outside it nor feed a derived file from outside it. Errors are the
// operating system's text ("Too many levels of symbolic links" for a link).

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/fs.hpp"

namespace store {

// What stands at a path, looked at without following links. A path whose
// parent passes through a link counts as a link.
enum class EntryKind { Missing, Regular, Directory, Link, Other };

// Whether a replaced file must be on disk before the replace counts. Files no
// run can regenerate need it; the derived files are recomputed by the next run
// and are left to the kernel, which saves seconds on thousands of files.
enum class Durability { Volatile, Durable };

// The steps by which the file layer changes the disk.
enum class FileStep {
  MakeDirectory,
  CreateTemporary,
  // Half of the bytes of a temporary or plain file are written.
  WriteHalf,
  SyncFile,
  Rename,
  SyncDirectory,
  WritePlain,
};

// Watches the file layer's steps. Tests hand one to fail a chosen step or to
// end the process at it; the command itself has none.
class FileHook {
 public:
  virtual ~FileHook() = default;
  // Called before `step` on `path` (as shown); an error number makes the step
  // fail with it.
  virtual std::optional<int> before(FileStep step, const std::filesystem::path& path) = 0;
};

// Receives a file's bytes piece by piece as they are made, so that a file of
// tens of megabytes never has to stand whole in memory.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void put(std::string_view bytes) = 0;
};

// Makes a file's bytes into a sink.
using Producer = std::function<void(ByteSink&)>;

// A directory trusted as given and the rules for everything below it.
class Tree {
 public:
  // `hook`, when given, watches every step that changes the disk.
  explicit Tree(std::filesystem::path base, FileHook* hook = nullptr)
      : base_(std::move(base)), hook_(hook) {}

  const std::filesystem::path& base() const { return base_; }

  // The base joined with `relative`: the path shown in messages.
  std::filesystem::path shown(const std::filesystem::path& relative) const {
    return base_ / relative;
  }

  // Creates the directory `relative` with its missing parents.
  std::expected<void, std::string> create_directories(const std::filesystem::path& relative) const;

  // What stands at `relative`.
  EntryKind kind(const std::filesystem::path& relative) const;

  // The whole content of the regular file at `relative`; opening never blocks.
  std::expected<std::string, std::string> read(const std::filesystem::path& relative) const;

  // The regular file at `relative`, open for reading; opening never blocks.
  std::expected<fsx::UniqueFd, std::string> open_read(const std::filesystem::path& relative) const;

  // The entries of the directory `relative`, sorted by name bytes; each entry's
  // path is relative to the base.
  std::expected<std::vector<fsx::DirEntry>, std::string> list(
      const std::filesystem::path& relative) const;

  // Creates or truncates the file at `relative` and writes `bytes` in place.
  std::expected<void, std::string> write_plain(const std::filesystem::path& relative,
                                               std::string_view bytes) const;

  // Writes `bytes` to `relative` + ".tmp" and renames it over `relative`,
  // creating missing parent directories first; readers see the old file or the
  // new one. Durable: the data reaches the disk before the rename, and the
  // rename before the call returns.
  std::expected<void, std::string> write_atomic(const std::filesystem::path& relative,
                                                std::string_view bytes,
                                                Durability durability = Durability::Volatile) const;

  // The same, with the bytes made by `produce` while they are written.
  std::expected<void, std::string> write_atomic(const std::filesystem::path& relative,
                                                const Producer& produce,
                                                Durability durability) const;

 private:
  // Runs the hook before a step; an error number it returns fails the step.
  std::optional<int> before(FileStep step, const std::filesystem::path& path) const;

  std::filesystem::path base_;
  FileHook* hook_;
};

// The content of the regular file `relative` below `tree` when it is UTF-8
// text, else the system's error text or `fsx::kNotUtf8`.
std::expected<std::string, std::string> read_text(const Tree& tree,
                                                  const std::filesystem::path& relative);

}  // namespace store
