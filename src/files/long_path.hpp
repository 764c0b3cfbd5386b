#pragma once

// Windows paths past 260 characters: the "\\?\" form, which the system passes
// on without the old limit (and without its rewriting of "/", "." and "..").

#include <string>
#include <string_view>

namespace files {

// `full`, an absolute path as GetFullPathNameW gives it ("C:\a\b",
// "\\server\share\a", or already "\\?\..."), in the "\\?\" form: "\\?\C:\a\b",
// "\\?\UNC\server\share\a". Forward slashes become backslashes first.
std::u16string extended_length_path(std::u16string_view full);

}  // namespace files
