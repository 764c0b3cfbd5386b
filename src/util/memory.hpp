#pragma once

// Handing freed heap memory back to the system. A large run frees hundreds of
// megabytes at a few points (the scan's file buffers, the loaded graph); the C
// library may keep them for reuse by the thread that freed them, while the
// later stages run on other threads and heaps.

namespace memory {

// Gives back what the heap holds free; nothing where the C library offers no
// way to, or where the fallbacks are forced (util/fallbacks.hpp).
void give_back();

// Starts this program again in its own process, with the same arguments and
// a heap that asks for transparent huge pages, where that pays: on Linux with
// the GNU C library, when the system gives huge pages only to memory that
// asks for them. A run touches a hundred megabytes or more, and on some
// virtual machines each 4 KB page costs microseconds when first touched.
// Returns where it does not start again: elsewhere, with the fallbacks
// forced, when the environment already says how the heap takes huge pages,
// or when the start fails.
void restart_with_huge_pages(char** argv);

}  // namespace memory
