#include "util/interrupt.hpp"

#include <pthread.h>

#include <csignal>
#include <initializer_list>

namespace interrupt {
namespace {

volatile std::sig_atomic_t first_signal = 0;

extern "C" void note(int signal) {
  if (first_signal == 0) first_signal = signal;
}

sigset_t stopping_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

}  // namespace

void install_handlers() {
  struct sigaction action{};
  action.sa_handler = note;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a signal only leaves its note, it does not fail a write.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int noted() { return first_signal; }

// Signals are noted on the thread they interrupt; nothing waits for this.
void finished() {}

Held::Held() {
  const sigset_t set = stopping_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Held::~Held() {
  const sigset_t set = stopping_signals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace interrupt
