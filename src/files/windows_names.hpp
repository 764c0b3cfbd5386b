#pragma once

// Names Windows does not keep as given: a reserved device name opens the
// device instead of a file, a trailing dot or space is silently dropped (so
// "Plan." would land on "Plan"), and "Plan:x" names a hidden stream of the
// file "Plan", which a rename cannot move and which would leave "Plan"
// behind. The Windows face refuses them before any call, as a drive refuses a
// character it cannot hold.

#include <string_view>

namespace files {

// True for CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (any case, with or
// without an extension, with trailing spaces before it), for a name ending in
// a dot or a space, and for one holding a control character or any of
// < > : " / \ | ? *.
bool windows_refuses_name(std::string_view name);

}  // namespace files
