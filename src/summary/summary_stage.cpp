#include "summary/summary_stage.hpp"

#include <exception>
#include <new>
#include <utility>
#include <variant>

#include "stats/snapshot.hpp"

namespace summary {

SummaryStage::SummaryStage(const store::Workspace& workspace, const journal::Scan& journal,
                           const std::vector<std::string>& goals)
    : snapshots_(snapshots_made_.get_future()),
      reports_(kBytesAhead,
               [](const files::OutputFile& file) {
                 // Reports are made as text.
                 const auto* text = std::get_if<std::string>(&file.content);
                 return text != nullptr ? text->capacity() : 0;
               }),
      maker_([this, &workspace, &journal, &goals] { make(workspace, journal, goals); }) {}

SummaryStage::~SummaryStage() {
  reports_.stop();
  if (maker_.joinable()) maker_.join();
}

void SummaryStage::make(const store::Workspace& workspace, const journal::Scan& journal,
                        const std::vector<std::string>& goals) {
  bool snapshots_told = false;
  // No exception may leave the thread: running out of memory is a failure
  // like any other, told at the stage where it happened.
  const auto fail = [&](std::string text) {
    if (snapshots_told) {
      counts_ = std::unexpected(std::move(text));
    } else {
      snapshots_made_.set_value(std::unexpected(std::move(text)));
    }
  };
  try {
    auto snapshots = stats::month_end_snapshots(workspace, journal.records, goals);
    if (!snapshots) {
      fail(std::move(snapshots.error()));
    } else {
      snapshots_made_.set_value(std::move(snapshots->files));
      snapshots_told = true;
      counts_ = reports(workspace, journal, snapshots->index,
                        [&](files::OutputFile file) { return reports_.put(std::move(file)); });
    }
  } catch (const std::bad_alloc&) {
    fail("内存不足");
  } catch (const std::exception& e) {
    fail(e.what());
  }
  reports_.finish();
}

std::expected<files::OutputFiles, std::string> SummaryStage::snapshots() {
  return snapshots_.get();
}

std::optional<files::OutputFile> SummaryStage::next_report() { return reports_.take(); }

std::expected<ReportCounts, std::string> SummaryStage::counts() { return std::move(counts_); }

}  // namespace summary
