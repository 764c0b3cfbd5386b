#include "journal/files.hpp"

#include <algorithm>
#include <chrono>

#include <fmt/format.h>

#include "files/path_text.hpp"
#include "util/text.hpp"

namespace journal {
namespace {

// Four digits, or a sign followed by three digits.
std::optional<int> signed_field(std::string_view s) {
  if (text::all_ascii_digits(s)) return text::ascii_digits_value(s);
  const auto rest = s.substr(1);
  if ((s[0] == '+' || s[0] == '-') && text::all_ascii_digits(rest)) {
    return s[0] == '-' ? -text::ascii_digits_value(rest) : text::ascii_digits_value(rest);
  }
  return std::nullopt;
}

// Two digits, or "+" followed by one digit.
std::optional<int> unsigned_field(std::string_view s) {
  if (text::all_ascii_digits(s)) return text::ascii_digits_value(s);
  if (s[0] == '+' && text::is_ascii_digit(s[1])) return text::ascii_digits_value(s.substr(1));
  return std::nullopt;
}

// The month directory's listing is sorted by name, so the files of one day are
// a contiguous run starting at the first name not below the prefix.
std::vector<JournalEntry> entries_from_listing(const files::FileSystem& fs,
                                               const std::vector<files::DirEntry>& listing,
                                               std::string_view date) {
  // Like the scan, a listing takes no file whose name begins with no calendar date.
  if (!parse_calendar_date(date)) return {};
  const std::string prefix = std::string(date) + "-";
  auto it = std::ranges::lower_bound(listing, prefix, std::less<>{}, &files::DirEntry::name);
  std::vector<JournalEntry> entries;
  for (; it != listing.end() && it->name.starts_with(prefix); ++it) {
    // What the scan skips is skipped here too.
    if (!it->name.ends_with(".md") || text::has_control(it->name)) continue;
    const auto content = fs.read_record(it->path);
    if (!content) continue;
    if (auto entry = parse_entry(*content, date, it->name)) {
      // As the scan keeps it, so that both answers stay equal.
      keep_snippet_only(*entry);
      entries.push_back(std::move(*entry));
    }
  }
  std::ranges::stable_sort(entries, std::less<>{}, &JournalEntry::time);
  return entries;
}

std::unexpected<std::string> invalid_date(std::string_view date) {
  return std::unexpected("非法日期: " + std::string(date));
}

}  // namespace

std::optional<DayKey> parse_day_key(std::string_view date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
  const auto year = signed_field(date.substr(0, 4));
  const auto month = unsigned_field(date.substr(5, 2));
  const auto day = unsigned_field(date.substr(8, 2));
  if (!year || !month || !day) return std::nullopt;
  return DayKey{*year, *month, *day};
}

std::optional<std::chrono::year_month_day> parse_calendar_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto year = text.substr(0, 4), month = text.substr(5, 2), day = text.substr(8, 2);
  if (!text::all_ascii_digits(year) || !text::all_ascii_digits(month) ||
      !text::all_ascii_digits(day)) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{
      std::chrono::year{text::ascii_digits_value(year)},
      std::chrono::month{static_cast<unsigned>(text::ascii_digits_value(month))},
      std::chrono::day{static_cast<unsigned>(text::ascii_digits_value(day))}};
  if (!date.ok()) return std::nullopt;
  return date;
}

std::filesystem::path day_dir(const std::filesystem::path& root, int year, int month) {
  return root / files::utf8_path(fmt::format("{:04}", year)) /
         files::utf8_path(fmt::format("{:02}", month));
}

std::expected<JournalEntry, std::string> reload_entry(const std::filesystem::path& root,
                                                      std::string_view file_name,
                                                      const files::FileSystem& fs) {
  const auto key = file_name.ends_with(".md") && file_name.size() >= 13
                       ? parse_day_key(file_name.substr(0, 10))
                       : std::nullopt;
  if (!key) return std::unexpected("非法日记文件名: " + std::string(file_name));
  const auto content =
      fs.read_record(day_dir(root, key->year, key->month) / files::utf8_path(file_name));
  if (!content) return std::unexpected("读取日记文件失败: " + content.error().text);
  auto entry = parse_entry(*content, file_name.substr(0, 10), file_name);
  if (!entry) return std::unexpected("日记文件缺少 ## HH:MM 标题: " + std::string(file_name));
  return std::move(*entry);
}

const std::expected<std::vector<JournalEntry>, std::string>& DayListingCache::day_entries(
    std::string_view date) {
  if (const auto found = days_.find(date); found != days_.end()) return found->second;
  std::expected<std::vector<JournalEntry>, std::string> result;
  if (const auto key = parse_day_key(date)) {
    const auto dir = day_dir(root_, key->year, key->month);
    const auto scanned = months_ != nullptr ? months_->find(dir) : ScannedMonths::const_iterator{};
    result = months_ != nullptr && scanned != months_->end()
                 ? from_scan(scanned->second, date)
                 : entries_from_listing(*fs_, listing(dir), date);
  } else {
    result = invalid_date(date);
  }
  return days_.emplace(std::string(date), std::move(result)).first->second;
}

std::vector<JournalEntry> DayListingCache::from_scan(const std::vector<FiledRecord>& filed,
                                                     std::string_view date) const {
  // The scan read every file a listing reads (a name that starts with a day
  // key and "-" is a record file name) and parsed it with the same date.
  const std::string prefix = std::string(date) + "-";
  std::vector<JournalEntry> entries;
  for (const auto& [index, goal_from_inventory] : filed) {
    const JournalEntry& record = (*records_)[index];
    if (!record.file_name.starts_with(prefix)) continue;
    JournalEntry& entry = entries.emplace_back(record);
    entry.topics.clear();
    if (goal_from_inventory) entry.goal.reset();
  }
  std::ranges::stable_sort(entries, std::less<>{}, &JournalEntry::time);
  return entries;
}

const std::vector<files::DirEntry>& DayListingCache::listing(const std::filesystem::path& dir) {
  if (const auto found = listings_.find(dir); found != listings_.end()) return found->second;
  auto listed = fs_->list_records(dir);
  return listings_.emplace(dir, listed ? std::move(*listed) : std::vector<files::DirEntry>{})
      .first->second;
}

}  // namespace journal
