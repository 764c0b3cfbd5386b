#pragma once

// The closing check of a real run: the first record reads back the same through
// the journal's own layout, and graph.json is consistent with the records.

#include <expected>
#include <filesystem>
#include <ostream>
#include <vector>

#include "cli/run_failure.hpp"
#include "graph/model.hpp"
#include "journal/entry.hpp"
#include "store/workspace.hpp"

namespace cli {

// Runs the checks in order and prints the success line on `out`. A failed
// reload is a plain failure; an inconsistency is a hard stop. `saved` is the
// graph the run last saved; graph.json is read and checked, and parsed only
// when it no longer holds what was saved.
std::expected<void, RunFailure> self_check(store::Workspace& workspace,
                                           const std::vector<journal::JournalEntry>& records,
                                           const graph::Graph& saved, std::ostream& out);

}  // namespace cli
