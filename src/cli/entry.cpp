#include "cli/entry.hpp"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cache/record_cache.hpp"
#include "cli/backfill.hpp"
#include "cli/console.hpp"
#include "cli/options.hpp"
#include "cli/run_failure.hpp"
#include "cli/terminal.hpp"
#include "files/file_system.hpp"
#include "files/path_text.hpp"
#include "util/interrupt.hpp"
#include "util/progress.hpp"

namespace cli {

int run(int argc, char** argv, const files::FileSystem& fs) {
  return run(terminal::arguments(argc, argv), fs);
}

int run(const std::vector<std::string>& args, const files::FileSystem& fs) {
  interrupt::install_handlers();
  terminal::prepare_streams();
  // However the run ends, a handler waiting for it may let the process go.
  const struct Finished {
    ~Finished() { interrupt::finished(); }
  } finished;
  std::vector<const char*> pointers{"backfill-workspace"};
  for (const auto& arg : args) pointers.push_back(arg.c_str());
  const auto parsed = parse_arguments(static_cast<int>(pointers.size()), pointers.data());
  if (std::holds_alternative<ShowUsage>(parsed)) {
    std::cout << kHelp << std::flush;
    return 0;
  }
  if (std::holds_alternative<ShowVersion>(parsed)) {
    std::cout << "backfill-workspace " << BACKFILL_VERSION << '\n' << std::flush;
    return 0;
  }
  if (const auto* error = std::get_if<ArgumentError>(&parsed)) {
    std::cerr << "参数错误: " << error->text << '\n' << kHelpHint;
    return 2;
  }
  auto options = std::get<BackfillOptions>(parsed);
  options.cache_dir = cache::default_directory();
  if (!fs.is_record_directory(options.root)) {
    std::cerr << "参数错误: 工作区目录不存在: " << files::path_text(options.root) << '\n';
    return 2;
  }
  Console console(!options.quiet && terminal::can_redraw_line(), options.quiet && !options.dry_run);
  auto& err = console.err();
  std::expected<void, RunFailure> result;
  // Memory can run out anywhere; the run's destructors still remove every
  // temporary it made, and the user gets a sentence instead of an abort.
  try {
    result = run_backfill(options, console.out(), err, fs);
  } catch (const std::bad_alloc&) {
    result = std::unexpected(RunFailure{RunFailure::Kind::Failed, "内存不足"});
  } catch (const std::exception& e) {
    result = std::unexpected(RunFailure{RunFailure::Kind::Failed, e.what()});
  }
  if (std::getenv("BACKFILL_STAGE_TIMES") != nullptr) {
    for (const auto& [label, at] : progress::timeline()) {
      err << fmt::format("[time] {:8.3f} s {}\n", at, label);
    }
  }
  if (result) return 0;
  if (result.error().kind == RunFailure::Kind::Interrupted) {
    err << (result.error().committed ? "补全中断: 已完成写入" : "补全中断: 未改动任何文件") << '\n';
    return 128 + result.error().signal;
  }
  if (result.error().kind == RunFailure::Kind::HardStop) {
    err << result.error().text << '\n';
    return 3;
  }
  err << "补全失败: " << result.error().text << '\n';
  return 1;
}

}  // namespace cli
