#pragma once

// Paths made from text and turned back into text. Every name reaches the
// command as UTF-8 (arguments, record fields, directory listings) and leaves
// it as UTF-8 (messages, file contents). POSIX names a file by its bytes, so
// there both ways copy the bytes, valid UTF-8 or not: a name on a Linux disk
// may hold any of them. Windows names files in UTF-16, and a path made from a
// std::string or shown through string() there passes through the narrow code
// page, which mangles every character it lacks; so nothing else in the
// command may convert a path from or to text on its own.

#include <filesystem>
#include <string>
#include <string_view>

namespace files {

// The path named by the UTF-8 text `utf8`. On Windows, ill-formed UTF-8 is
// read with U+FFFD in place of each bad sequence.
std::filesystem::path utf8_path(std::string_view utf8);

// The UTF-8 text of `path`, its separators as they stand. On Windows, a lone
// surrogate in a name gives U+FFFD.
std::string path_text(const std::filesystem::path& path);

// The same with '/' between the parts on every platform; on POSIX exactly
// path_text (doubled slashes are kept, unlike generic_string()).
std::string generic_path_text(const std::filesystem::path& path);

// How a message shows `relative` below `root`: the root as the user gave it,
// then the relative part with '/' between its parts. On POSIX this is
// path_text(root / relative), byte for byte.
std::string shown_path(const std::filesystem::path& root, const std::filesystem::path& relative);

}  // namespace files
