#pragma once

// Standard output and standard error as a run uses them. Every line leaves at
// once, so a program that shows the command's output as it comes sees each
// stage when it happens. On a terminal, a run that takes a while shows one
// progress line on standard error, redrawn in place and erased before any
// other line reaches the screen; nothing of it reaches a pipe or a file.

#include <memory>
#include <ostream>

namespace cli {

class Console {
 public:
  // `progress_line`: draw the progress line (standard error is a terminal).
  // `silent_out`: standard output takes nothing.
  Console(bool progress_line, bool silent_out);
  // Erases the progress line.
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  std::ostream& out();
  std::ostream& err();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cli
