#pragma once

// Handing freed heap memory back to the system. A large run frees hundreds of
// megabytes at a few points (the scan's file buffers, the loaded graph); the C
// library may keep them for reuse by the thread that freed them, while the
// later stages run on other threads and heaps.

namespace memory {

// Gives back what the heap holds free; nothing where the C library offers no
// way to, or where the fallbacks are forced (util/fallbacks.hpp).
void give_back();

}  // namespace memory
