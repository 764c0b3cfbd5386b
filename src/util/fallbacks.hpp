#pragma once

// Linux has calls of its own that the command uses where it can (a flush of a
// whole file system, a rename that must not replace, handing freed heap back).
// Other systems run without them, on fallbacks that would otherwise never run
// in CI; BACKFILL_PORTABLE_FALLBACKS=1 makes a Linux build take the fallbacks
// too, so the same tests exercise them without another build.

namespace fallbacks {

// True when BACKFILL_PORTABLE_FALLBACKS=1 was set when the process started;
// read once, so every part of a run agrees.
bool forced();

}  // namespace fallbacks
