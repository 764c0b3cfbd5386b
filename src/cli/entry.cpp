#include "cli/entry.hpp"

#include <iostream>

#include "cli/backfill.hpp"
#include "cli/options.hpp"
#include "cli/run_failure.hpp"
#include "util/fs.hpp"

namespace cli {

int run(int argc, char** argv, store::FileHook* hook) {
  const auto parsed = parse_arguments(argc, argv);
  if (std::holds_alternative<ShowUsage>(parsed)) {
    std::cout << kUsage << std::flush;
    return 0;
  }
  if (const auto* error = std::get_if<ArgumentError>(&parsed)) {
    std::cerr << "参数错误: " << error->text << '\n';
    return 2;
  }
  const auto& options = std::get<BackfillOptions>(parsed);
  if (!fsx::is_directory(options.root)) {
    std::cerr << "参数错误: 工作区目录不存在: " << options.root.string() << '\n';
    return 2;
  }
  const auto result = run_backfill(options, std::cout, std::cerr, hook);
  std::cout.flush();
  if (result) return 0;
  if (result.error().kind == RunFailure::Kind::HardStop) {
    std::cerr << result.error().text << '\n';
    return 3;
  }
  std::cerr << "补全失败: " << result.error().text << '\n';
  return 1;
}

}  // namespace cli
