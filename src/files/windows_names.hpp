#pragma once

// Names Windows accepts but does not keep: a reserved device name opens the
// device instead of a file, and a trailing dot or space is silently dropped,
// so "Plan." would land on "Plan". The Windows face refuses them before any
// call, as the file system refuses a character it cannot hold.

#include <string_view>

namespace files {

// True for CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (any case, with or
// without an extension, with trailing spaces before it), and for a name
// ending in a dot or a space.
bool windows_mangles_name(std::string_view name);

}  // namespace files
