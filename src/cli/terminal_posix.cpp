#include <unistd.h>

#include "cli/terminal.hpp"
#include "files/posix.hpp"

namespace cli::terminal {

void prepare_streams() {}

bool can_redraw_line() { return ::isatty(STDERR_FILENO) == 1; }

void write_error(std::string_view bytes) { (void)files::posix::write_all(STDERR_FILENO, bytes); }

std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace cli::terminal
