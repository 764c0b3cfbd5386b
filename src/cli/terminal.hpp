#pragma once

// What the command needs of its process's standard streams and command line,
// for each platform.

#include <string>
#include <string_view>
#include <vector>

namespace cli::terminal {

// Readies standard output and standard error to carry UTF-8 bytes unchanged:
// on Windows, no LF becomes CRLF and a console shows the text as UTF-8.
void prepare_streams();

// True when standard error is a terminal that can redraw a line in place.
bool can_redraw_line();

// Writes `bytes` to standard error at once, past the stream buffers (the
// progress line).
void write_error(std::string_view bytes);

// The arguments after the program name, in UTF-8; on Windows, from the wide
// command line, with a lone surrogate kept as bytes no UTF-8 check accepts.
std::vector<std::string> arguments(int argc, char** argv);

}  // namespace cli::terminal
