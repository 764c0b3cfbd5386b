#pragma once

// The snapshots and reports of a run, made on a second core while the run
// makes and stages the topic files, which they do not depend on. The reports
// reach the run one at a time through a short queue: a large journal's
// monthly reports are hundreds of kilobytes each, and held until all were
// made they would be most of what the run holds at that point.

#include <cstddef>
#include <expected>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "files/output_file.hpp"
#include "journal/scan.hpp"
#include "store/workspace.hpp"
#include "summary/summary_files.hpp"
#include "util/handoff.hpp"

namespace summary {

class SummaryStage {
 public:
  // Bytes of reports made ahead of the one the run stages: enough that the
  // making goes on beside the topic files, few enough to hold.
  static constexpr std::size_t kBytesAhead = std::size_t{8} << 20;

  // Starts making. `workspace`, `journal` and `goals` must outlive the object.
  SummaryStage(const store::Workspace& workspace, const journal::Scan& journal,
               const std::vector<std::string>& goals);
  // Stops the making wherever it is and waits for it: a run that fails early
  // waits for no report.
  ~SummaryStage();
  SummaryStage(const SummaryStage&) = delete;
  SummaryStage& operator=(const SummaryStage&) = delete;

  // Waits for the month-end snapshot files, made first; or their failure.
  std::expected<files::OutputFiles, std::string> snapshots();

  // Waits for the next report, in the order of summary::reports; nothing once
  // every report was handed over, or the making failed.
  std::optional<files::OutputFile> next_report();

  // Once next_report gave nothing: the reports' counts, or why the making
  // failed (empty when a signal stopped it).
  std::expected<ReportCounts, std::string> counts();

 private:
  void make(const store::Workspace& workspace, const journal::Scan& journal,
            const std::vector<std::string>& goals);

  std::promise<std::expected<files::OutputFiles, std::string>> snapshots_made_;
  std::future<std::expected<files::OutputFiles, std::string>> snapshots_;
  handoff::Queue<files::OutputFile> reports_;
  // Set before the queue is finished, read after it gave nothing.
  std::expected<ReportCounts, std::string> counts_ = std::unexpected(std::string());
  // Last: started once everything it uses stands.
  std::jthread maker_;
};

}  // namespace summary
