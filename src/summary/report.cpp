#include "summary/report.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace summary {
namespace {

constexpr std::string_view kNoTopicNextStep = "可从记录一项已完成的工作开始";
constexpr std::string_view kNoLeadingTopic = "当前主线";

using TopicCounts = std::vector<std::pair<std::string, std::size_t>>;

// "A（5 项）、B（5 项）、C（2 项）": the first three ranked topics.
std::string leading_topics(const TopicCounts& ranked) {
  std::string items;
  const std::size_t shown = std::min<std::size_t>(ranked.size(), 3);
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) items += "、";
    items += fmt::format("{}（{} 项）", ranked[i].first, ranked[i].second);
  }
  return items;
}

std::string leading_topic(const TopicCounts& ranked) {
  return ranked.empty() ? std::string(kNoLeadingTopic) : ranked.front().first;
}

std::string ability_note(float initiative, float focus, float persistence) {
  return fmt::format("能动性 {:.1f}、专注 {:.1f}、持续性 {:.1f}", initiative, focus, persistence);
}

bool all_zero(float a, float b, float c) { return a == 0.0f && b == 0.0f && c == 0.0f; }

}  // namespace

TopicCounts rank_topics(TopicCounts counts) {
  std::ranges::stable_sort(counts, [](const auto& a, const auto& b) {
    if (a.second != b.second) return a.second > b.second;
    return a.first < b.first;
  });
  return counts;
}

PeriodReport monthly_report(const stats::MonthlyStats& stats) {
  const auto ranked = rank_topics(stats.topic_counts);
  const std::size_t total = stats.total_entries;
  PeriodReport report;
  if (total == 0) {
    report.work = "本月无工作记录";
  } else if (ranked.empty()) {
    report.work = fmt::format("本月完成 {} 项工作", total);
  } else {
    report.work = fmt::format("本月推进 {} 条工作主线：{}", std::min<std::size_t>(ranked.size(), 3),
                              leading_topics(ranked));
  }
  report.next_step = ranked.empty()
                         ? std::string(kNoTopicNextStep)
                         : fmt::format("下月可继续推进「{}」直至交付", leading_topic(ranked));
  const auto& avg = stats.avg_ratings;
  const float a = avg[stats::kInitiative], f = avg[stats::kFocus], p = avg[stats::kPersistence];
  if (!all_zero(a, f, p)) report.efficiency_note = ability_note(a, f, p);
  return report;
}

PeriodReport weekly_report(const stats::WeeklyStats& stats) {
  const auto ranked = rank_topics(stats.topic_counts);
  const std::size_t total = stats.total_entries;
  PeriodReport report;
  if (total == 0) {
    report.work = "本期无工作记录";
  } else if (ranked.empty()) {
    report.work = fmt::format("本期完成 {} 项工作", total);
  } else {
    report.work = fmt::format("本期推进 {} 条工作主线：{}", std::min<std::size_t>(ranked.size(), 3),
                              leading_topics(ranked));
  }
  report.next_step = ranked.empty()
                         ? std::string(kNoTopicNextStep)
                         : fmt::format("下一步可继续推进「{}」直至交付", leading_topic(ranked));
  const auto& avgs = stats.daily_avgs;
  const float a = avgs[stats::kInitiative].this_week, f = avgs[stats::kFocus].this_week,
              p = avgs[stats::kPersistence].this_week;
  if (!all_zero(a, f, p)) {
    report.efficiency_note =
        fmt::format("{}（趋势：{}）", ability_note(a, f, p), avgs[stats::kFocus].trend);
  }
  return report;
}

PeriodReport daily_report(const stats::DailyStats& stats) {
  PeriodReport report;
  std::string goals;
  for (const auto& goal : stats.goals_touched) {
    if (!goals.empty()) goals += "、";
    goals += goal;
  }
  report.work = fmt::format("{} 共 {} 条记录{}", stats.date, stats.count,
                            goals.empty() ? std::string() : "，涉及目标：" + goals);
  if (stats.count == 0) {
    report.next_step = "今天还没有记录，可以从一件完成的小事开始。";
  } else if (stats.topics_touched.size() > 3) {
    report.next_step = "今天涉及的主题较多，可挑选一条主线深入。";
  } else {
    report.next_step = "保持节奏，记录让进展可见。";
  }
  return report;
}

void store_sentences(const PeriodReport& report, stats::ReportSentences& sentences) {
  sentences = {report.work, report.next_step, report.efficiency_note};
}

}  // namespace summary
