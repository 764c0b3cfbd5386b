// Forced into every translation unit when building with clang.
//
// libstdc++ 12 implements std::stable_sort with its own get_temporary_buffer,
// which C++23 deprecates, and clang reports that use inside the library header
// at each instantiation. A pragma at our call sites cannot reach it, because
// the diagnostic is placed in the header's text; so the header is read first,
// here, with only that diagnostic off, and deprecations in our code still warn.
#pragma once

#if defined(__clang__) && __has_include(<bits/stl_tempbuf.h>)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
#include <bits/stl_tempbuf.h>
#pragma clang diagnostic pop
#endif
