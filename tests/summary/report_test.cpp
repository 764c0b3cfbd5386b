#include "summary/report.hpp"

#include <gtest/gtest.h>

#include "summary/summary_files.hpp"
#include "support/memory_file_system.hpp"

namespace {

stats::WeeklyStats week_with(std::vector<std::pair<std::string, std::size_t>> topics,
                             std::size_t total, float initiative, std::string focus_trend) {
  stats::WeeklyStats week;
  week.topic_counts = std::move(topics);
  week.total_entries = total;
  week.daily_avgs[stats::kInitiative].this_week = initiative;
  week.daily_avgs[stats::kFocus].trend = std::move(focus_trend);
  return week;
}

struct Reports {
  summary::ReportCounts counts;
  files::OutputFiles files;
};

// The report stage with day listings read from `fs` and the snapshots in the
// directory, its files taken as they come.
std::expected<Reports, std::string> reports(const files::FileSystem& fs,
                                            const std::filesystem::path& root,
                                            const std::vector<journal::JournalEntry>& records) {
  const store::Workspace workspace(root, fs);
  stats::SnapshotIndex snapshots(workspace.files());
  journal::Scan scan;
  scan.records = records;
  Reports made;
  auto counts = summary::reports(workspace, scan, snapshots, [&](files::OutputFile file) {
    made.files.push_back(std::move(file));
    return true;
  });
  if (!counts) return std::unexpected(counts.error());
  made.counts = *counts;
  return made;
}

}  // namespace

TEST(PeriodReportTest, MonthAndWeekSentencesFollowTheTopicRanking) {
  stats::MonthlyStats month;
  month.total_entries = 13;
  month.topic_counts = {{"D", 1}, {"B", 5}, {"C", 2}, {"A", 5}};
  month.avg_ratings = {2.25f, 0.0f, 0.05f, 1.0f, 1.0f};
  auto report = summary::monthly_report(month);
  EXPECT_EQ(report.work, "本月推进 3 条工作主线：A（5 项）、B（5 项）、C（2 项）");
  EXPECT_EQ(report.next_step, "下月可继续推进「A」直至交付");
  EXPECT_EQ(report.efficiency_note, "能动性 2.2、专注 0.0、持续性 0.1");

  month.topic_counts.clear();
  month.total_entries = 4;
  month.avg_ratings = {0.0f, 0.0f, 0.0f, 3.0f, 3.0f};
  report = summary::monthly_report(month);
  EXPECT_EQ(report.work, "本月完成 4 项工作");
  EXPECT_EQ(report.next_step, "可从记录一项已完成的工作开始");
  EXPECT_EQ(report.efficiency_note, "");
  month.total_entries = 0;
  EXPECT_EQ(summary::monthly_report(month).work, "本月无工作记录");

  report = summary::weekly_report(week_with({{"X", 1}}, 1, 3.0f, "up"));
  EXPECT_EQ(report.work, "本期推进 1 条工作主线：X（1 项）");
  EXPECT_EQ(report.next_step, "下一步可继续推进「X」直至交付");
  EXPECT_EQ(report.efficiency_note, "能动性 3.0、专注 0.0、持续性 0.0（趋势：up）");
  EXPECT_EQ(summary::weekly_report(week_with({}, 2, 0.0f, "flat")).work, "本期完成 2 项工作");
  EXPECT_EQ(summary::weekly_report(week_with({}, 0, 0.0f, "flat")).work, "本期无工作记录");
  EXPECT_EQ(summary::weekly_report(week_with({}, 0, 0.0f, "flat")).efficiency_note, "");
}

TEST(PeriodReportTest, DaySentencesDependOnCountGoalsAndTopics) {
  stats::DailyStats day;
  day.date = "2026-07-05";
  EXPECT_EQ(summary::daily_report(day).work, "2026-07-05 共 0 条记录");
  EXPECT_EQ(summary::daily_report(day).next_step, "今天还没有记录，可以从一件完成的小事开始。");
  day.count = 2;
  day.goals_touched = {"G1", "G2"};
  day.topics_touched = {"a", "b", "c"};
  EXPECT_EQ(summary::daily_report(day).work, "2026-07-05 共 2 条记录，涉及目标：G1、G2");
  EXPECT_EQ(summary::daily_report(day).next_step, "保持节奏，记录让进展可见。");
  day.topics_touched.push_back("d");
  EXPECT_EQ(summary::daily_report(day).next_step, "今天涉及的主题较多，可挑选一条主线深入。");
  EXPECT_EQ(summary::daily_report(day).efficiency_note, "");
}

TEST(SummaryFileTest, TextOfEachKind) {
  const summary::PeriodReport report{"W", "N", "E", {{"H1", "B1"}, {"H2", "B2"}}};
  const std::string tail =
      "\n\n<details><summary>统计数据（JSON）</summary>\n\n```json\n{}\n```\n\n</details>\n";
  const std::string head =
      "\n\n> AI 回看 · 生成于 S\n\n## 本期工作回顾\n\n- **本期工作**：W\n- **下一步推进**：N";
  EXPECT_EQ(summary::summary_text(summary::ReportKind::Monthly, "2026-07", "{}", report, "S"),
            "# 月报 2026-07" + head + "\n- **效能附注**：E" +
                "\n\n## 月度工作总结\n\n### H1\n\nB1\n\n### H2\n\nB2\n" + tail);
  EXPECT_EQ(summary::summary_text(summary::ReportKind::Weekly, "2026-w27", "{}", report, "S"),
            "# 周报 2026-w27" + head + "\n- **效能附注**：E" + tail);
  EXPECT_EQ(summary::summary_text(summary::ReportKind::Daily, "2026-07-05", "{}",
                                  {"W", "N", " \u3000", {}}, "S"),
            "# 日报 2026-07-05" + head + tail);
  EXPECT_EQ(summary::summary_text(summary::ReportKind::Yearly, "2026", "{}", report, "S"),
            "# 年报 2026" + head + "\n- **效能附注**：E" +
                "\n\n## 年度工作总结\n\n### H1\n\nB1\n\n### H2\n\nB2\n" + tail);
  EXPECT_EQ(summary::summary_path(summary::ReportKind::Yearly, "2026"),
            std::filesystem::path("summary/yearly/2026.md"));

  using namespace std::chrono;
  EXPECT_EQ(
      summary::report_stamp(sys_days{year{2026} / 7 / 5} + hours{23} + minutes{4} + seconds{9}),
      "2026-07-05T23:04:09Z");
}

TEST(ReportStageTest, SkipsDaysThatAreNoDayKey) {
  testing_support::MemoryFileSystem memory;
  memory.write("/ws/2026/07/2026-07-03-a.md", "## 09:00\n");
  std::vector<journal::JournalEntry> records(2);
  records[0].date = "2026-07-03";
  records[1].date = "2026-07.md";
  const auto stage = reports(memory, "/ws", records);
  ASSERT_TRUE(stage) << stage.error();
  const auto& counts = stage->counts;
  EXPECT_EQ(std::tie(counts.monthly, counts.weekly, counts.daily), std::make_tuple(1u, 5u, 1u));
  ASSERT_EQ(stage->files.size(), 7u);
  EXPECT_EQ(stage->files.front().path, "summary/monthly/2026-07.md");
  EXPECT_EQ(stage->files.back().path, "summary/daily/2026-07-03.md");
}

TEST(ReportStageTest, StopsOnceTheTakerWantsNoMore) {
  testing_support::MemoryFileSystem memory;
  memory.write("/ws/2026/07/2026-07-03-a.md", "## 09:00\n");
  std::vector<journal::JournalEntry> records(1);
  records[0].date = "2026-07-03";
  const store::Workspace workspace("/ws", memory);
  stats::SnapshotIndex snapshots(workspace.files());
  journal::Scan scan;
  scan.records = records;
  std::size_t taken = 0;
  const auto made = summary::reports(workspace, scan, snapshots, [&](files::OutputFile) {
    ++taken;
    return taken < 2;
  });
  ASSERT_FALSE(made);
  EXPECT_EQ(made.error(), "");
  EXPECT_EQ(taken, 2u);
}
