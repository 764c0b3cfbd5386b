#pragma once

// Summary files: one Markdown report per period under root/summary/{kind}/, with
// the period's statistics embedded as compact JSON; and the report stage of a run.

#include <chrono>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "files/output_file.hpp"
#include "journal/entry.hpp"
#include "journal/scan.hpp"
#include "stats/snapshot.hpp"
#include "store/workspace.hpp"
#include "summary/report.hpp"

namespace summary {

// The kinds of report, each with its own folder below summary/ and its own title.
enum class ReportKind { Monthly, Weekly, Daily, Yearly };

// summary/{folder of `kind`}/{period}.md, relative to the root.
std::filesystem::path summary_path(ReportKind kind, std::string_view period);

// `time` in UTC as "%Y-%m-%dT%H:%M:%SZ".
std::string report_stamp(std::chrono::system_clock::time_point time);

// The whole text of a summary file generated at `stamp`.
std::string summary_text(ReportKind kind, std::string_view period, std::string_view stats_json,
                         const PeriodReport& report, std::string_view stamp);

// The summary file of one period, stamped now; fails with "创建 summary 目录失败: "
// or "写入 summary 缓存失败: " and the detail.
files::OutputFile summary_file(ReportKind kind, std::string_view period,
                               std::string_view stats_json, const PeriodReport& report);

// Files written by the report stage, per kind.
struct ReportCounts {
  std::size_t monthly = 0, weekly = 0, daily = 0;
};

// Takes each report file as it is made; false when it wants no more.
using ReportTaker = std::function<bool(files::OutputFile)>;

// One monthly report per month of the records, one weekly report per fixed
// week and one daily report per recorded day of July 2026, in that order,
// each handed to `take` as soon as it is made, reading entries only through
// the day listings; stops at the first failure and returns its text (empty
// when a signal was noted or `take` wanted no more). A listed day that is no
// day key gets no report.
std::expected<ReportCounts, std::string> reports(const store::Workspace& workspace,
                                                 const journal::Scan& journal,
                                                 stats::SnapshotIndex& snapshots,
                                                 const ReportTaker& take);

}  // namespace summary
