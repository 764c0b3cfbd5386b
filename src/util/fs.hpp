#pragma once

// Thin, non-throwing wrappers over the file system. Errors come back as the
// operating system's message text (std::error_code::message()).

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fsx {

// The text shown when a file's bytes are not UTF-8.
inline constexpr std::string_view kNotUtf8 = "不是有效的 UTF-8 文本";

// The whole content of the file at `path`, or the system's error text.
std::expected<std::string, std::string> read_bytes(const std::filesystem::path& path);

// The whole content of the file at `path` when it is UTF-8 text, else the
// system's error text or `kNotUtf8`.
std::expected<std::string, std::string> read_text(const std::filesystem::path& path);

// Creates or truncates the file at `path` and writes `bytes` (no atomic replace).
std::expected<void, std::string> write_plain(const std::filesystem::path& path,
                                             std::string_view bytes);

// One directory entry: its name as text (ill-formed UTF-8 replaced by U+FFFD)
// and the real path to open it by.
struct DirEntry {
  std::string name;
  std::filesystem::path path;
};

// The entries of the directory `dir`, sorted by name bytes so that every run
// walks them in the same order; the system's error text when it cannot be listed.
std::expected<std::vector<DirEntry>, std::string> list_dir(const std::filesystem::path& dir);

// True when `path` names an existing regular file (links followed).
bool is_regular_file(const std::filesystem::path& path);

// True when `path` names an existing directory (links followed).
bool is_directory(const std::filesystem::path& path);

// Creates `dir` with all missing parents; an existing directory is fine.
std::expected<void, std::string> create_directories(const std::filesystem::path& dir);

}  // namespace fsx
