#pragma once

// A file a stage would write, as the stage hands it to the writer: stages
// compute, and only the writer touches the disk.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "files/file_system.hpp"

namespace files {

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

}  // namespace files
