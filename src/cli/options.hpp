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
  // A real run prints nothing on standard output.
  bool quiet = false;
  // Reads every record, whatever the cache knows, and writes the cache anew.
  bool full = false;
  // Where the record cache goes; none is kept without one. Not an argument:
  // the environment says where caches live.
  std::optional<std::filesystem::path> cache_dir;
};

inline constexpr const char* kUsage =
    "用法: backfill-workspace --root <workspace> [--dry-run] [--emit-golden <dir>]\n";

// What --help prints: the usage line, then the options and the exit statuses.
inline constexpr const char* kHelp =
    "用法: backfill-workspace --root <workspace> [--dry-run] [--emit-golden <dir>]\n"
    "\n"
    "选项:\n"
    "  --root <workspace>   要补全的工作区目录（必需）\n"
    "  --dry-run            只扫描并打印将生成的文件，不写入任何文件\n"
    "  --emit-golden <dir>  另将确定性的期望集导出到 <dir>/workspace\n"
    "  -q, --quiet          真实运行时标准输出不打印任何内容；警告与错误仍写到标准错误\n"
    "  --full               不用记录缓存，重新读取每个记录文件（并重写缓存）\n"
    "  -h, --help           显示本帮助并退出\n"
    "  -V, --version        显示版本并退出\n"
    "\n"
    "退出状态:\n"
    "  0              补全（或预演）完成，或已显示帮助、版本\n"
    "  1              补全失败，未替换任何文件\n"
    "  2              参数错误，未写入任何文件\n"
    "  3              自检发现不一致，未替换任何文件\n"
    "  129, 130, 143  被 SIGHUP、SIGINT（Ctrl-C）、SIGTERM 中断\n"
    "\n"
    "详见 man backfill-workspace\n";

// The second line of every usage error.
inline constexpr const char* kHelpHint = "用 --help 查看用法\n";

// -h/--help was given before anything wrong.
struct ShowUsage {};
// -V/--version was given before anything wrong.
struct ShowVersion {};
// The text after "参数错误: ".
struct ArgumentError {
  std::string text;
};

using ParsedArguments = std::variant<BackfillOptions, ShowUsage, ShowVersion, ArgumentError>;

// Reads the arguments after the program name from left to right. Does not look
// at the file system.
ParsedArguments parse_arguments(int argc, const char* const* argv);

}  // namespace cli
