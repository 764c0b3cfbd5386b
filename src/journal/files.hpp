#pragma once

// The journal tree on disk: root/YYYY/MM/YYYY-MM-DD-name.md, one entry per file.
// Everything here only reads; no journal file is ever created or changed.

#include <chrono>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.hpp"
#include "journal/entry.hpp"

namespace journal {

// A date text taken apart without any calendar test (2026-13-45 is a day key).
struct DayKey {
  int year;
  int month;
  int day;
};

// The key of a 10-byte date text: "-" at bytes 4 and 7, a year of four digits or
// a sign and three digits, a month and a day of two digits or "+" and one digit.
std::optional<DayKey> parse_day_key(std::string_view date);

// The calendar date written YYYY-MM-DD in ASCII digits, such as every record
// file name begins with; nothing for any other text.
std::optional<std::chrono::year_month_day> parse_calendar_date(std::string_view text);

// The directory holding the entries of a month: root, the year zero-padded to
// four places (a minus sign counts as one of them), the month padded to two.
std::filesystem::path day_dir(const std::filesystem::path& root, int year, int month);

// The entry parsed afresh from the file named `file_name` in the directory of its
// date, or "非法日记文件名: ", "读取日记文件失败: " or "日记文件缺少 ## HH:MM 标题: "
// with the detail.
std::expected<JournalEntry, std::string> reload_entry(const std::filesystem::path& root,
                                                      std::string_view file_name,
                                                      const files::FileSystem& fs);

// A record the workspace scan parsed in a month directory: its index in the
// run's record list, and whether its goal came from the inventory lines (which
// a day listing does not read).
struct FiledRecord {
  std::size_t index = 0;
  bool goal_from_inventory = false;
};

// The month directories the scan listed (root/YYYY/MM as joined from the
// root), each with its records in name order.
using ScannedMonths = std::map<std::filesystem::path, std::vector<FiledRecord>>;

// Day listings for the length of one run, while nobody changes the journal.
// A month directory the scan listed is answered from the scan's own parse of
// the same files; any other is listed once and its files parsed once, so
// reporting on every day of a large month stays linear. Every answer equals
// what listing the directory afresh would give.
class DayListingCache {
 public:
  explicit DayListingCache(std::filesystem::path root, const files::FileSystem& fs)
      : root_(std::move(root)), fs_(&fs) {}
  // `records` and `months` come from the scan and must outlive the cache.
  DayListingCache(std::filesystem::path root, const std::vector<JournalEntry>& records,
                  const ScannedMonths& months, const files::FileSystem& fs)
      : root_(std::move(root)), fs_(&fs), records_(&records), months_(&months) {}

  const std::filesystem::path& root() const { return root_; }

  // The entries filed for `date` in its month directory, stably sorted by
  // time, each body cut to its snippet as the scan cuts it; "非法日期: " and
  // the text when `date` is not a day key. A missing directory and unreadable
  // or headingless files simply contribute nothing. Kept until forget_days.
  const std::expected<std::vector<JournalEntry>, std::string>& day_entries(std::string_view date);

  // Drops the days listed so far (and what day_entries returned for them), so
  // that one period's entries at a time stay in memory.
  void forget_days() { days_.clear(); }

 private:
  // A directory that could not be listed is remembered as an empty listing.
  const std::vector<files::DirEntry>& listing(const std::filesystem::path& dir);
  // The day's entries as the scan parsed them in `filed`.
  std::vector<JournalEntry> from_scan(const std::vector<FiledRecord>& filed,
                                      std::string_view date) const;

  std::filesystem::path root_;
  const files::FileSystem* fs_;
  const std::vector<JournalEntry>* records_ = nullptr;
  const ScannedMonths* months_ = nullptr;
  std::map<std::filesystem::path, std::vector<files::DirEntry>> listings_;
  std::map<std::string, std::expected<std::vector<JournalEntry>, std::string>, std::less<>> days_;
};

}  // namespace journal
