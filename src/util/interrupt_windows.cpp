#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "util/interrupt.hpp"

// Windows has no signals for these: the console calls a handler on a thread of
// its own for Ctrl-C, Ctrl-Break and a closed window. They are noted under the
// numbers of the POSIX signals they stand for, so that a run ends the same way
// and with the same status (130, 129) everywhere.
namespace interrupt {
namespace {

constexpr int kHangUp = 1;
constexpr int kInterrupt = 2;

std::atomic<int> first_signal{0};
// Set while replacing files: a signal is kept aside and noted when it ends.
std::atomic<int> held{0};
std::atomic<int> pending{0};
std::atomic<bool> over{false};

void note(int signal) {
  int expected = 0;
  if (held.load() > 0) {
    pending.compare_exchange_strong(expected, signal);
  } else {
    first_signal.compare_exchange_strong(expected, signal);
  }
}

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      note(kInterrupt);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      note(kHangUp);
      // Windows ends the process as soon as this returns: wait until the run
      // has stopped or finished its renames (Windows allows about 5 s).
      for (int i = 0; i < 500 && !over.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void install_handlers() { SetConsoleCtrlHandler(on_console_event, TRUE); }

int noted() { return first_signal.load(); }

void finished() { over.store(true); }

Held::Held() { held.fetch_add(1); }

Held::~Held() {
  if (held.fetch_sub(1) == 1) {
    if (const int signal = pending.exchange(0); signal != 0) note(signal);
  }
}

}  // namespace interrupt
