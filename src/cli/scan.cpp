#include "cli/scan.hpp"

#include <algorithm>
#include <optional>
#include <fmt/format.h>
#include <fmt/ostream.h>

#include "util/fs.hpp"
#include "util/text.hpp"

namespace cli {
namespace {

bool all_ascii_digits(std::string_view s) {
  return std::ranges::all_of(s, [](char c) { return c >= '0' && c <= '9'; });
}

bool is_record_file_name(std::string_view name) {
  return name.ends_with(".md") && name.size() >= 10 && text::is_char_boundary(name, 10);
}

std::vector<std::string_view> split_path_segments(std::string_view rest) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (;;) {
    const std::size_t cut = rest.find_first_of("\\/", start);
    if (cut == std::string_view::npos) {
      segments.push_back(rest.substr(start));
      return segments;
    }
    segments.push_back(rest.substr(start, cut - start));
    start = cut + 1;
  }
}

template <typename T>
std::vector<T> sorted_unique(std::vector<T> values) {
  std::ranges::sort(values);
  const auto [first, last] = std::ranges::unique(values);
  values.erase(first, last);
  return values;
}

// The entries of a year or month directory. One that cannot be listed is
// skipped, with a warning when it is a directory: its records would otherwise
// vanish from every derived file without a trace.
std::optional<std::vector<fsx::DirEntry>> list_level(const fsx::DirEntry& dir,
                                                     const std::filesystem::path& shown,
                                                     std::ostream& err) {
  auto listed = fsx::list_dir(dir.path);
  if (listed) return std::move(*listed);
  if (fsx::is_directory(dir.path)) {
    fmt::print(err, "[warn] 跳过无法读取的目录: {}: {}\n", shown.string(), listed.error());
  }
  return std::nullopt;
}

}  // namespace

void add_inventory_fields(journal::JournalEntry& entry, std::string_view file_text) {
  constexpr std::string_view kGoalLabel = "分类：";
  constexpr std::string_view kPathLabel = "相对路径：";
  for (const auto raw : text::lines(file_text)) {
    const auto line = text::trim(raw);
    if (line.starts_with(kGoalLabel)) {
      const auto goal = text::trim(line.substr(kGoalLabel.size()));
      if (!goal.empty() && !entry.goal) entry.goal = std::string(goal);
    } else if (line.starts_with(kPathLabel)) {
      const auto segments = split_path_segments(line.substr(kPathLabel.size()));
      if (segments.size() < 2) continue;
      const auto topic = text::trim(segments[1]);
      if (!topic.empty() && std::ranges::find(entry.topics, topic) == entry.topics.end()) {
        entry.topics.emplace_back(topic);
      }
    }
  }
}

std::expected<std::vector<journal::JournalEntry>, std::string> scan_records(
    const std::filesystem::path& root, std::ostream& err) {
  auto years = fsx::list_dir(root);
  if (!years) return std::unexpected("读取工作区根失败: " + years.error());

  std::vector<journal::JournalEntry> records;
  for (const auto& year : *years) {
    if (year.name.size() != 4 || !all_ascii_digits(year.name)) continue;
    const auto months = list_level(year, root / year.name, err);
    if (!months) continue;
    for (const auto& month : *months) {
      if (month.name.size() != 2 || !all_ascii_digits(month.name)) continue;
      const auto files = list_level(month, root / year.name / month.name, err);
      if (!files) continue;
      for (const auto& file : *files) {
        if (!is_record_file_name(file.name)) continue;
        const auto content = fsx::read_text(file.path);
        if (!content) {
          // A record in another encoding, or a FIFO or device under a record's
          // name, would otherwise vanish from every derived file without a trace.
          const auto shown = root / year.name / month.name / file.name;
          fmt::print(err, "[warn] 跳过无法读取的记录文件: {}: {}\n", shown.string(),
                     content.error());
          continue;
        }
        auto entry = journal::parse_entry(*content, std::string_view(file.name).substr(0, 10),
                                          file.name);
        if (!entry) continue;
        add_inventory_fields(*entry, *content);
        records.push_back(std::move(*entry));
      }
    }
  }
  std::ranges::stable_sort(records, [](const auto& a, const auto& b) {
    if (a.date != b.date) return a.date < b.date;
    return a.time < b.time;
  });
  return records;
}

ScanResult infer(std::vector<journal::JournalEntry> records) {
  ScanResult result;
  std::vector<std::string> goals;
  std::vector<std::string> topics;
  for (const auto& record : records) {
    if (record.goal) {
      ++result.with_goal;
      goals.push_back(*record.goal);
    }
    if (!record.topics.empty()) ++result.with_topic;
    topics.insert(topics.end(), record.topics.begin(), record.topics.end());
  }
  result.goals = sorted_unique(std::move(goals));
  result.topics = sorted_unique(std::move(topics));
  result.records = std::move(records);
  return result;
}

}  // namespace cli
