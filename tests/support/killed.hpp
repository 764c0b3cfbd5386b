#pragma once

// How the fault runner ends itself at once ("kill") and how a test tells it
// did: by SIGKILL on POSIX. Windows has no signals; TerminateProcess ends the
// runner there with kKilledExitCode, which run_backfill_binary reports as
// kKilledSignal, so that a test reads the same on both.

#if defined(_WIN32)
namespace testing_support {
inline constexpr int kKilledSignal = 9;
inline constexpr unsigned long kKilledExitCode = 0xDEAD0009;
}  // namespace testing_support
#else
#include <csignal>

namespace testing_support {
inline constexpr int kKilledSignal = SIGKILL;
}  // namespace testing_support
#endif
