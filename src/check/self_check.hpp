#pragma once

// The closing check of a real run: the first record reads back the same through
// the journal's own layout, and graph.json is consistent with the records.

#include <expected>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "graph/model.hpp"
#include "journal/entry.hpp"
#include "store/workspace.hpp"

namespace check {

// Why the check stopped the run.
struct Failure {
  enum class Kind {
    // The first record could not be read back: the run fails.
    ReloadFailed,
    // The files disagree with the records: the text is printed as it is and
    // the process stops with its own status.
    Inconsistent,
  };
  Kind kind = Kind::ReloadFailed;
  std::string text;
};

// Runs the checks in order and prints the success line on `out`. A failed
// reload is a plain failure; an inconsistency is a hard stop. `saved` is the
// graph as the run staged it, with `carried` record nodes kept for records the
// scan skipped besides one per distinct date and time of `records`.
std::expected<void, Failure> self_check(store::Workspace& workspace,
                                        const std::vector<journal::JournalEntry>& records,
                                        const graph::Graph& saved, std::size_t carried,
                                        std::ostream& out);

}  // namespace check
