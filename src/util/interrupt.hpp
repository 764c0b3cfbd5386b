#pragma once

// Ctrl-C, a closed terminal or a polite kill must not leave a half-made
// workspace. The handlers only note the signal; the run looks at the note
// between steps and stops before it replaces anything.

namespace interrupt {

// Notes SIGINT, SIGTERM and SIGHUP instead of dying on them, and ignores
// SIGPIPE so that a reader closing standard output does not end the run.
void install_handlers();

// The number of the first noted signal, or 0. On Windows, Ctrl-C and
// Ctrl-Break count as SIGINT (2) and a closed console window as SIGHUP (1).
int noted();

// The run has stopped or finished: where the system ends the process as soon
// as a handler returns (a closed console window), the handler waits for this.
void finished();

// While one of these lives, the noted signals wait: a run that has begun to
// replace files finishes doing so. Those that arrived meanwhile are noted when
// it ends.
class Held {
 public:
  Held();
  ~Held();
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
};

}  // namespace interrupt
