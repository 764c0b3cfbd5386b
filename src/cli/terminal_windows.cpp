// windows.h first: the other system headers build on it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "cli/terminal.hpp"
#include "util/utf16.hpp"

namespace cli::terminal {
namespace {

bool redraw = false;

}  // namespace

void prepare_streams() {
  // Text mode would turn every "\n" into "\r\n": a file or a pipe gets what
  // Linux writes.
  (void)_setmode(_fileno(stdout), _O_BINARY);
  (void)_setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  // The progress line needs the console to take escape sequences; older
  // consoles do not, and get no progress line.
  redraw = err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode) != 0 &&
           (SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
}

bool can_redraw_line() { return redraw; }

void write_error(std::string_view bytes) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    if (WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) == 0 ||
        written == 0) {
      return;
    }
    bytes.remove_prefix(written);
  }
}

std::vector<std::string> arguments(int, char**) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 1; i < count; ++i) {
    out.push_back(text::utf8_from_utf16(reinterpret_cast<const char16_t*>(wide[i])));
  }
  LocalFree(wide);
  return out;
}

}  // namespace cli::terminal
