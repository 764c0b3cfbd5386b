#include "cli/options.hpp"

#include <string_view>

#include "files/path_text.hpp"
#include "util/text.hpp"

namespace cli {

ParsedArguments parse_arguments(int argc, const char* const* argv) {
  BackfillOptions options;
  bool have_root = false;
  // Every argument is checked when the scan reaches it, values included, so an
  // earlier -h still wins over a later broken argument.
  auto checked = [&](int i) -> std::optional<ArgumentError> {
    const std::string_view arg = argv[i];
    if (text::is_valid_utf8(arg)) return std::nullopt;
    return ArgumentError{"参数不是有效的 UTF-8: " + text::to_valid_utf8(arg)};
  };

  for (int i = 1; i < argc; ++i) {
    if (auto error = checked(i)) return *error;
    const std::string_view arg = argv[i];
    if (arg == "--root" || arg == "--emit-golden") {
      const bool is_root = arg == "--root";
      if (i + 1 >= argc) {
        return ArgumentError{is_root ? "--root 需要一个参数" : "--emit-golden 需要一个目录参数"};
      }
      ++i;
      if (auto error = checked(i)) return *error;
      if (is_root) {
        options.root = files::utf8_path(argv[i]);
        have_root = true;
      } else {
        options.emit_golden = files::utf8_path(argv[i]);
      }
    } else if (arg == "--dry-run") {
      options.dry_run = true;
    } else if (arg == "--full") {
      options.full = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      return ShowUsage{};
    } else if (arg == "-V" || arg == "--version") {
      return ShowVersion{};
    } else {
      return ArgumentError{"未知参数: " + std::string(arg)};
    }
  }
  if (!have_root) return ArgumentError{"缺少 --root <workspace>"};
  return options;
}

}  // namespace cli
