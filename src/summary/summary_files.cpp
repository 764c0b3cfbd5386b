#include "summary/summary_files.hpp"

#include <ctime>
#include <utility>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "files/path_text.hpp"
#include "journal/files.hpp"
#include "journal/months.hpp"
#include "store/layout.hpp"
#include "summary/periods.hpp"
#include "util/interrupt.hpp"
#include "util/progress.hpp"
#include "util/text.hpp"

namespace summary {
namespace {

struct KindInfo {
  std::string_view folder;
  std::string_view label;
  std::string_view section_heading;  // empty: the kind has no section block
};

KindInfo kind_info(ReportKind kind) {
  switch (kind) {
    case ReportKind::Monthly:
      return {"monthly", "月报 ", "月度工作总结"};
    case ReportKind::Weekly:
      return {"weekly", "周报 ", ""};
    case ReportKind::Daily:
      return {"daily", "日报 ", ""};
    case ReportKind::Yearly:
      return {"yearly", "年报 ", "年度工作总结"};
  }
  std::unreachable();
}

constexpr std::string_view kStampLead = "> AI 回看 · 生成于 ";

}  // namespace

std::filesystem::path summary_path(ReportKind kind, std::string_view period) {
  return std::filesystem::path(store::kSummaryDir) / kind_info(kind).folder /
         files::utf8_path(std::string(period) + ".md");
}

std::string report_stamp(std::chrono::system_clock::time_point time) {
  return fmt::format("{:%Y-%m-%dT%H:%M:%SZ}",
                     fmt::gmtime(std::chrono::system_clock::to_time_t(time)));
}

std::string summary_text(ReportKind kind, std::string_view period, std::string_view stats_json,
                         const PeriodReport& report, std::string_view stamp) {
  const KindInfo info = kind_info(kind);
  // The sentences are built from goal and topic names; a control character in
  // one must not start a line of its own.
  const auto add = text::append_escaped_controls;
  // A month's report is mostly its statistics, hundreds of kilobytes: grown
  // by doubling, its buffer would end up nearly twice its size, and a run
  // holds every report until it is staged.
  std::size_t estimate = stats_json.size() + period.size() + stamp.size() + report.work.size() +
                         report.next_step.size() + report.efficiency_note.size() + 512;
  for (const auto& [heading, body] : report.sections) estimate += heading.size() + body.size() + 16;
  std::string out;
  out.reserve(estimate);
  out += "# ";
  out += info.label;
  add(out, period);
  out += "\n\n";
  out += kStampLead;
  out += stamp;
  out += "\n\n## 本期工作回顾\n\n- **本期工作**：";
  add(out, report.work);
  out += "\n- **下一步推进**：";
  add(out, report.next_step);
  if (!text::trim(report.efficiency_note).empty()) {
    out += "\n- **效能附注**：";
    add(out, report.efficiency_note);
  }
  if (!info.section_heading.empty() && !report.sections.empty()) {
    out += "\n\n## ";
    out += info.section_heading;
    out += "\n\n";
    for (std::size_t i = 0; i < report.sections.size(); ++i) {
      if (i > 0) out += "\n\n";
      out += "### ";
      add(out, report.sections[i].first);
      // A body is text of its own lines.
      out += "\n\n" + report.sections[i].second;
    }
    out += "\n";
  }
  out += "\n\n<details><summary>统计数据（JSON）</summary>\n\n```json\n";
  out += stats_json;
  out += "\n```\n\n</details>\n";
  return out;
}

files::OutputFile summary_file(ReportKind kind, std::string_view period,
                               std::string_view stats_json, const PeriodReport& report) {
  const std::string stamp = report_stamp(std::chrono::system_clock::now());
  files::OutputFile file{files::FileClass::Derived, summary_path(kind, period),
                         summary_text(kind, period, stats_json, report, stamp),
                         "写入 summary 缓存失败: IO 错误: ", "创建 summary 目录失败: "};
  // A report that differs only in when it was made is left as it is: its
  // stamp says when its content last changed.
  const auto at = std::get<std::string>(file.content).find(kStampLead) + kStampLead.size();
  file.stamp = {at, stamp.size()};
  return file;
}

std::expected<ReportCounts, std::string> reports(const store::Workspace& workspace,
                                                 const journal::Scan& journal,
                                                 stats::SnapshotIndex& snapshots,
                                                 const ReportTaker& take) {
  // The journal does not change during a run: the days come from the scan.
  const auto& records = journal.records;
  journal::DayListingCache listing(workspace.root(), records, journal.months,
                                   workspace.file_system());
  ReportCounts counts;
  const auto months = journal::month_list(records);
  const auto report_days = day_list(records);
  progress::begin("生成报告", months.size() + kWeekStarts.size() + report_days.size(), "份");
  const auto stopped = [] { return std::unexpected(std::string()); };

  for (const auto& month : months) {
    // A stopped run waits for this stage, which runs beside the topic files.
    if (interrupt::noted() != 0) return stopped();
    auto stats = stats::build_monthly_stats(listing, snapshots, month);
    if (!stats) return std::unexpected(stats.error());
    auto report = monthly_report(*stats);
    store_sentences(report, stats->sentences);
    if (stats->sentences.pattern.empty()) {
      report.work =
          fmt::format("本月记录 {} 条 / {} 天", stats->total_entries, stats->days_recorded);
    }
    if (!take(summary_file(ReportKind::Monthly, month, stats::monthly_stats_json(*stats), report)))
      return stopped();
    ++counts.monthly;
    progress::advance();
    // Months do not share days; only the weeks and days below reuse July's.
    listing.forget_days();
  }

  for (const auto start : kWeekStarts) {
    auto stats = stats::build_weekly_stats(listing, snapshots, start);
    if (!stats) return std::unexpected(stats.error());
    const auto report = weekly_report(*stats);
    store_sentences(report, stats->sentences);
    if (!take(summary_file(ReportKind::Weekly, stats->period, stats::weekly_stats_json(*stats),
                           report)))
      return stopped();
    ++counts.weekly;
    progress::advance();
  }

  for (const auto& day : report_days) {
    if (interrupt::noted() != 0) return stopped();
    // A recorded date that is no day key (a file named 2026-07.md) cannot be
    // listed; it simply has no daily report.
    progress::advance();
    const auto stats = stats::build_daily_stats(listing, day);
    if (!stats) continue;
    if (!take(summary_file(ReportKind::Daily, day, stats::daily_stats_json(*stats),
                           daily_report(*stats))))
      return stopped();
    ++counts.daily;
  }
  return counts;
}

}  // namespace summary
