#include <gtest/gtest.h>

#include <fmt/format.h>

#include "stats/daily.hpp"
#include "stats/monthly.hpp"
#include "stats/weekly.hpp"
#include "support/memory_file_system.hpp"

using testing_support::MemoryFileSystem;

namespace {

const std::filesystem::path kRoot = "/ws";

journal::JournalEntry rated(std::string time, std::array<std::uint8_t, 5> ratings,
                            std::string file_name = "2026-07-05-abc.md") {
  journal::JournalEntry entry;
  entry.date = "2026-07-05";
  entry.time = std::move(time);
  entry.file_name = std::move(file_name);
  entry.title = "own";
  for (std::size_t i = 0; i < ratings.size(); ++i) entry.rating(i) = ratings[i];
  return entry;
}

// An entry file for `date` at `time` with a rating line.
void write_entry(MemoryFileSystem& fs, std::string_view date, std::string_view name,
                 std::string_view time, std::string_view rating_line, std::string_view body = "") {
  fs.write(kRoot / fmt::format("{}/{}/{}-{}.md", date.substr(0, 4), date.substr(5, 2), date, name),
           fmt::format("## {}\n{}\n{}\n", time, body, rating_line));
}

}  // namespace

TEST(DailyStatsTest, MeansSkipZerosAndTiesPickTheRightMoment) {
  const auto stats = stats::daily_stats_from_entries(
      "2026-07-05", {rated("08:00", {5, 1, 2, 1, 0}, "2026-07-05-早.md"),
                     rated("09:00", {0, 2, 1, 0, 0}, "2026-07-05-中.md"),
                     rated("10:00", {3, 2, 2, 3, 0}, "short.md")});
  EXPECT_EQ(stats.daily_avg, (stats::RatingMeans{4.0f, 5.0f / 3.0f, 5.0f / 3.0f, 2.0f, 0.0f}));
  // 5+1 and 3+3 tie: the later entry is the highlight, shown by its own title.
  ASSERT_TRUE(stats.highlight);
  EXPECT_EQ(stats.highlight->time, "10:00");
  EXPECT_EQ(stats.highlight->text, "own");
  EXPECT_EQ(stats.highlight->reason, "initiative=3, affect=3");
  // 1+2 and 2+1 tie: the earlier entry is the breakpoint.
  ASSERT_TRUE(stats.breakpoint);
  EXPECT_EQ(stats.breakpoint->text, "早");
  EXPECT_EQ(stats.breakpoint->reason, "focus=1, persistence=2");

  const auto calm = stats::daily_stats_from_entries(
      "2026-07-05", {rated("08:00", {2, 2, 2, 3, 0}), rated("09:00", {1, 3, 3, 1, 0})});
  EXPECT_FALSE(calm.highlight);   // best initiative + affect has initiative 2
  EXPECT_FALSE(calm.breakpoint);  // weakest has focus 2 and persistence 2
}

TEST(WeeklyStatsTest, TrendBoundsAreStrictIn32BitArithmetic) {
  EXPECT_EQ(stats::trend_of(3.2f, 3.0f), "up");
  EXPECT_EQ(stats::trend_of(3.1f, 3.0f), "flat");
  EXPECT_EQ(stats::trend_of(2.8f, 3.0f), "down");
  // A difference of exactly 0.15f is flat, though it lies above the double 0.15.
  EXPECT_EQ(stats::trend_of(0.15f, 0.0f), "flat");
  EXPECT_EQ(stats::trend_of(0.0f, 0.15f), "flat");
  EXPECT_EQ(stats::trend_of(3.15f, 3.0f), "up");
  EXPECT_EQ(stats::trend_of(0.0f, 0.0f), "flat");
}

TEST(WeeklyStatsTest, ComparesWithThePreviousWeekAcrossMonths) {
  MemoryFileSystem fs;
  write_entry(fs, "2026-07-31", "a", "09:00", "动3 专1");
  write_entry(fs, "2026-07-31", "b", "08:00", "动1");
  write_entry(fs, "2026-08-04", "c", "09:00", "动2");
  write_entry(fs, "2026-08-05", "late", "09:00", "动1");  // after the week
  write_entry(fs, "2026-07-28", "prev", "09:00", "专3");
  fs.write(kRoot / ".system/stats/snapshots/2026-06-30.json",
           R"({"date":"","goals":{"A":1,"B":2}})");
  fs.write(kRoot / ".system/stats/snapshots/2026-07-31.json",
           R"({"date":"","goals":{"B":3,"C":1}})");
  journal::DayListingCache days(kRoot, fs);
  const files::Tree tree(kRoot, fs);
  stats::SnapshotIndex snapshots(tree);
  const auto week = stats::build_weekly_stats(days, snapshots, "2026-07-29");
  ASSERT_TRUE(week);
  EXPECT_EQ(week->period, "2026-w31");
  EXPECT_EQ(week->end, "2026-08-04");
  EXPECT_EQ(week->days_recorded, 2u);
  EXPECT_EQ(week->total_entries, 3u);
  EXPECT_EQ(week->daily_avgs[0].this_week, 2.0f);
  EXPECT_EQ(week->daily_avgs[1].last_week, 3.0f);
  EXPECT_EQ(week->daily_avgs[1].trend, "down");
  ASSERT_EQ(week->goal_progress.size(), 1u);
  EXPECT_EQ(week->goal_progress.at("B").from, 2);
  EXPECT_EQ(week->goal_progress.at("B").to, 3);
  EXPECT_EQ(week->record_titles,
            (std::vector<std::string>{"2026-07-31 b", "2026-07-31 a", "2026-08-04 c"}));

  std::vector<std::string> keys;
  for (const char* start : {"2026-07-01", "2026-07-08", "2026-07-15", "2026-07-22"}) {
    keys.push_back(stats::build_weekly_stats(days, snapshots, start)->period);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"2026-w27", "2026-w28", "2026-w29", "2026-w30"}));
  // No snapshot at or before the start: no goal movement at all.
  EXPECT_TRUE(stats::build_weekly_stats(days, snapshots, "2026-06-24")->goal_progress.empty());
  EXPECT_EQ(stats::build_weekly_stats(days, snapshots, "2026-02-30").error(),
            "非法日期: 2026-02-30");
}

TEST(WeeklyStatsTest, RecordTitlesSkipRepeatsAndStopAtForty) {
  MemoryFileSystem fs;
  for (int i = 0; i < 45; ++i) write_entry(fs, "2026-07-01", fmt::format("n{:02}", i), "09:00", "");
  write_entry(fs, "2026-07-01", "n00x", "08:00", "", "");
  // Too short a name to cut: shown by its own title, the same line as n00's.
  fs.write(kRoot / "2026/07/2026-07-01-.md", "# n00\n## 08:30\n");
  journal::DayListingCache days(kRoot, fs);
  const files::Tree tree(kRoot, fs);
  stats::SnapshotIndex snapshots(tree);
  const auto titles = stats::build_weekly_stats(days, snapshots, "2026-07-01")->record_titles;
  ASSERT_EQ(titles.size(), stats::kWeeklyTitleLimit);
  EXPECT_EQ(titles.front(), "2026-07-01 n00x");
  EXPECT_EQ(titles.back(), "2026-07-01 n38");
}

TEST(MonthlyStatsTest, PhasesSplitEveryMonthLength) {
  using Bounds = std::array<std::pair<int, int>, 3>;
  EXPECT_EQ(stats::phase_bounds(28), (Bounds{{{1, 9}, {10, 18}, {19, 28}}}));
  EXPECT_EQ(stats::phase_bounds(29), (Bounds{{{1, 9}, {10, 18}, {19, 29}}}));
  EXPECT_EQ(stats::phase_bounds(30), (Bounds{{{1, 10}, {11, 20}, {21, 30}}}));
  EXPECT_EQ(stats::phase_bounds(31), (Bounds{{{1, 10}, {11, 20}, {21, 31}}}));
  EXPECT_EQ(stats::phase_trait(5, 12), "推进期");
  EXPECT_EQ(stats::phase_trait(2, 5), "推进期");  // exactly 0.4
  EXPECT_EQ(stats::phase_trait(3, 12), "启动期");
  EXPECT_EQ(stats::phase_trait(1, 5), "启动期");  // exactly 0.2
  EXPECT_EQ(stats::phase_trait(2, 12), "收尾期");
  EXPECT_EQ(stats::phase_trait(0, 12), "无记录");
}

TEST(MonthlyStatsTest, BuildsTotalsPhasesLinesAndGoalMovement) {
  MemoryFileSystem fs;
  write_entry(fs, "2024-02-01", "a", "09:00", "专3 情1", "a  b\n c");
  write_entry(fs, "2024-02-01", "b", "08:00", "专1", std::string(80, 'x'));
  write_entry(fs, "2024-02-29", "c", "09:00", "情3", "a  b\n c");
  write_entry(fs, "2024-03-01", "d", "09:00", "专2");
  fs.write(kRoot / ".system/stats/snapshots/2024-01-31.json", R"({"date":"","goals":{"A":1}})");
  fs.write(kRoot / ".system/stats/snapshots/2024-02-28.json", R"({"date":"","goals":{"A":2}})");
  journal::DayListingCache days(kRoot, fs);
  const files::Tree tree(kRoot, fs);
  stats::SnapshotIndex snapshots(tree);
  const auto month = stats::build_monthly_stats(days, snapshots, "2024-02");
  ASSERT_TRUE(month);
  EXPECT_EQ(month->total_entries, 3u);
  EXPECT_EQ(month->days_recorded, 2u);
  EXPECT_EQ(month->avg_ratings, (stats::RatingMeans{0.0f, 2.0f, 0.0f, 2.0f, 0.0f}));
  EXPECT_EQ(month->phases[0].range, "2.1-2.9");
  EXPECT_EQ(month->phases[0].trait, "推进期");
  EXPECT_EQ(month->phases[1].trait, "无记录");
  EXPECT_EQ(month->phases[2].range, "2.19-2.29");
  EXPECT_EQ(month->phases[2].avg_affect, 3.0f);
  ASSERT_EQ(month->goal_evolution.size(), 1u);
  EXPECT_EQ(month->goal_evolution[0].from, 1);
  EXPECT_EQ(month->goal_evolution[0].to, 2);
  EXPECT_EQ(month->record_titles,
            (std::vector<std::string>{"2024-02-01 b", "2024-02-01 a", "2024-02-29 c"}));
  EXPECT_EQ(month->record_snippets,
            (std::vector<std::string>{"2024-02-01 " + std::string(50, 'x'), "2024-02-01 a b c",
                                      "2024-02-29 a b c"}));
  std::string fifty, thirty;  // eighty characters in all
  for (int i = 0; i < 80; ++i) (i < 50 ? fifty : thirty) += "字";
  EXPECT_EQ(stats::body_snippet(fifty + thirty), fifty);
  // The scan keeps of a body only what its snippet is made of: the cut must
  // never change the snippet, wherever the white space falls.
  const std::string spaced_cut = std::string(49, 'a') + " \n\t b" + std::string(10, 'c');
  for (const std::string& body :
       {fifty + thirty, spaced_cut, "  " + fifty + " \n " + thirty, std::string(50, 'x') + "   ",
        std::string("a b c"), std::string()}) {
    journal::JournalEntry entry;
    entry.body = body;
    journal::keep_snippet_only(entry);
    EXPECT_EQ(stats::body_snippet(entry.body), stats::body_snippet(body)) << body;
    EXPECT_LE(entry.body.size(), body.size());
  }

  const auto odd = stats::build_monthly_stats(days, snapshots, "2026-13");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->phases[2].range, "13.21-13.30");
  EXPECT_EQ(stats::build_monthly_stats(days, snapshots, "2026-7").error(), "非法月份: 2026-7");
}

TEST(MonthlyStatsTest, RecordTitlesStopAtSixtySnippetsDoNot) {
  MemoryFileSystem fs;
  for (int i = 0; i < 75; ++i) {
    write_entry(fs, fmt::format("2026-06-{:02}", 1 + i % 30), fmt::format("t{:02}", i), "09:00", "",
                fmt::format("body {}", i));
  }
  journal::DayListingCache days(kRoot, fs);
  const files::Tree tree(kRoot, fs);
  stats::SnapshotIndex snapshots(tree);
  const auto month = stats::build_monthly_stats(days, snapshots, "2026-06");
  EXPECT_EQ(month->record_titles.size(), stats::kMonthlyTitleLimit);
  EXPECT_EQ(month->record_snippets.size(), 75u);
}
