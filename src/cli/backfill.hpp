#pragma once

// One backfill run: the scan, the dry-run plan or the stages of a real run.

#include <expected>
#include <ostream>

#include "cli/options.hpp"
#include "cli/run_failure.hpp"
#include "store/tree.hpp"

namespace cli {

// Runs the whole backfill; progress goes to `out`, warnings to `err`. `hook`,
// when given, watches every step of the file layer (tests only).
std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err, store::FileHook* hook = nullptr);

}  // namespace cli
