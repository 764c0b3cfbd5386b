#pragma once

// The failure a run ends with, apart from the run itself, so that the entry
// point can report it without depending on the run.

#include <string>

namespace cli {

// How a run ended when it did not succeed.
struct RunFailure {
  enum class Kind {
    // The entry prints "补全失败: " and the text; exit status 1.
    Failed,
    // A self-check found an inconsistency: the text is printed as it is and the
    // process stops with status 3.
    HardStop,
    // A signal stopped the run: before its commit (nothing replaced) or after
    // it (everything written); the status is 128 and the signal's number.
    Interrupted,
  };
  Kind kind = Kind::Failed;
  std::string text;
  // Interrupted only: the signal, and whether the commit had been made.
  int signal = 0;
  bool committed = false;
};

}  // namespace cli
