#pragma once

// UTF-16, the encoding of Windows names and command lines, to and from the
// UTF-8 the command works in. Portable, so it is tested everywhere.

#include <string>
#include <string_view>

namespace text {

// `s` in UTF-8. A lone surrogate is written as its own three bytes (ED A0..BF
// xx), which no UTF-8 check accepts: a name or an argument that holds one is
// then refused as not being UTF-8, as bad bytes are on Linux.
std::string utf8_from_utf16(std::u16string_view s);

// `s` in UTF-16; an ill-formed sequence becomes U+FFFD.
std::u16string utf16_from_utf8(std::string_view s);

}  // namespace text
