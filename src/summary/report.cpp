#include "summary/report.hpp"

#include <algorithm>
#include <optional>
#include <string_view>

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

// What the sentences of a month or a week are made of.
struct PeriodFacts {
  std::string_view this_period;  // how the work sentence names the period
  std::string_view next_period;  // how the next step names what follows
  const TopicCounts& topic_counts;
  std::size_t total_entries = 0;
  float initiative = 0.0f;
  float focus = 0.0f;
  float persistence = 0.0f;
  // Shown after the efficiency note when given; a month has none.
  std::optional<std::string_view> focus_trend;
};

PeriodReport period_report(const PeriodFacts& facts) {
  const auto ranked = rank_topics(facts.topic_counts);
  PeriodReport report;
  if (facts.total_entries == 0) {
    report.work = fmt::format("{}无工作记录", facts.this_period);
  } else if (ranked.empty()) {
    report.work = fmt::format("{}完成 {} 项工作", facts.this_period, facts.total_entries);
  } else {
    report.work = fmt::format("{}推进 {} 条工作主线：{}", facts.this_period,
                              std::min<std::size_t>(ranked.size(), 3), leading_topics(ranked));
  }
  report.next_step = ranked.empty() ? std::string(kNoTopicNextStep)
                                    : fmt::format("{}可继续推进「{}」直至交付", facts.next_period,
                                                  leading_topic(ranked));
  const float a = facts.initiative, f = facts.focus, p = facts.persistence;
  if (!all_zero(a, f, p)) {
    report.efficiency_note = ability_note(a, f, p);
    if (facts.focus_trend) {
      report.efficiency_note += fmt::format("（趋势：{}）", *facts.focus_trend);
    }
  }
  return report;
}

}  // namespace

TopicCounts rank_topics(TopicCounts counts) {
  std::ranges::stable_sort(counts, [](const auto& a, const auto& b) {
    if (a.second != b.second) return a.second > b.second;
    return a.first < b.first;
  });
  return counts;
}

PeriodReport monthly_report(const stats::MonthlyStats& stats) {
  const auto& avg = stats.avg_ratings;
  return period_report({.this_period = "本月",
                        .next_period = "下月",
                        .topic_counts = stats.topic_counts,
                        .total_entries = stats.total_entries,
                        .initiative = avg[stats::kInitiative],
                        .focus = avg[stats::kFocus],
                        .persistence = avg[stats::kPersistence],
                        .focus_trend = std::nullopt});
}

PeriodReport weekly_report(const stats::WeeklyStats& stats) {
  const auto& avgs = stats.daily_avgs;
  return period_report({.this_period = "本期",
                        .next_period = "下一步",
                        .topic_counts = stats.topic_counts,
                        .total_entries = stats.total_entries,
                        .initiative = avgs[stats::kInitiative].this_week,
                        .focus = avgs[stats::kFocus].this_week,
                        .persistence = avgs[stats::kPersistence].this_week,
                        .focus_trend = avgs[stats::kFocus].trend});
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
