#pragma once

// One backfill run: the scan, the dry-run plan or the stages of a real run.

#include <expected>
#include <ostream>
#include <string>

#include "cli/options.hpp"
#include "store/tree.hpp"

namespace cli {

// How a run ended when it did not succeed.
struct RunFailure {
  enum class Kind {
    // The entry prints "补全失败: " and the text; exit status 1.
    Failed,
    // A self-check found an inconsistency: the text is printed as it is and the
    // process stops with status 3.
    HardStop,
  };
  Kind kind = Kind::Failed;
  std::string text;
};

// Runs the whole backfill; progress goes to `out`, warnings to `err`. `hook`,
// when given, watches every step of the file layer (tests only).
std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err, store::FileHook* hook = nullptr);

}  // namespace cli
