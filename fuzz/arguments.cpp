// The command line through cli::parse_arguments; each input line is one argument.

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "cli/options.hpp"
#include "fuzz_input.hpp"
#include "util/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"backfill-workspace"};
  const auto text = fuzz::as_text(data, size);
  if (!text.empty()) {
    for (const auto piece : fuzz::split(text, '\n')) args.emplace_back(piece);
  }
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  const auto parsed = cli::parse_arguments(static_cast<int>(args.size()), argv.data());
  // The error is printed to the terminal as it is.
  if (const auto* error = std::get_if<cli::ArgumentError>(&parsed)) {
    fuzz::check(text::is_valid_utf8(error->text), "an argument error is UTF-8");
  }
  return 0;
}
