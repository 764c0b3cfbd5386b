#pragma once

// The command line: what it may hold and how it is read.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>

namespace cli {

struct BackfillOptions {
  std::filesystem::path root;
  std::optional<std::filesystem::path> emit_golden;
  bool dry_run = false;
};

inline constexpr const char* kUsage =
    "用法: backfill-workspace --root <workspace> [--dry-run] [--emit-golden <dir>]\n";

// -h/--help was given before anything wrong.
struct ShowUsage {};
// The text after "参数错误: ".
struct ArgumentError {
  std::string text;
};

using ParsedArguments = std::variant<BackfillOptions, ShowUsage, ArgumentError>;

// Reads the arguments after the program name from left to right. Does not look
// at the file system.
ParsedArguments parse_arguments(int argc, const char* const* argv);

}  // namespace cli
