#pragma once

// One backfill run: the scan, the dry-run plan or the stages of a real run.

#include <expected>
#include <ostream>

#include "cli/options.hpp"
#include "cli/run_failure.hpp"
#include "files/file_system.hpp"

namespace cli {

// Runs the whole backfill on `fs`; progress goes to `out`, warnings to `err`.
// Nothing is replaced unless every stage succeeds.
std::expected<void, RunFailure> run_backfill(const BackfillOptions& options, std::ostream& out,
                                             std::ostream& err, const files::FileSystem& fs);

}  // namespace cli
