// Day keys and dates as they come from file names and state files: each line of
// the input through journal::parse_day_key and the calendar helpers of stats.

#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.hpp"
#include "journal/files.hpp"
#include "stats/dates.hpp"

namespace {

void check_line(std::string_view line) {
  if (const auto key = journal::parse_day_key(line)) {
    fuzz::check(key->year >= -999 && key->year <= 9999 && key->month >= 0 && key->month <= 99 &&
                    key->day >= 0 && key->day <= 99,
                "day key fields are in range");
    (void)journal::day_dir("ws", key->year, key->month);
  }
  if (const auto date = stats::parse_date(line)) {
    fuzz::check(date->ok(), "a parsed date is a calendar date");
    fuzz::check(stats::format_date(*date) == line, "a date formats as its text");
    const auto key = journal::parse_day_key(line);
    fuzz::check(key && key->year == static_cast<int>(date->year()), "a date is a day key");
    // The snapshot lookup steps back one day at a time from here.
    const auto before = stats::add_days(*date, -1);
    fuzz::check(stats::add_days(before, 1) == *date, "a day back and forth is the same day");
    if (before.year() >= std::chrono::year{0}) {
      fuzz::check(stats::parse_date(stats::format_date(before)) == before,
                  "the previous day reads back");
    }
    const auto week = stats::iso_week_key(*date);
    fuzz::check(week.size() > 4 && week.substr(week.size() - 4, 2) == "-w", "week key is YYYY-wWW");
    int week_year = 0;
    std::from_chars(week.data(), week.data() + week.size() - 4, week_year);
    fuzz::check(std::abs(week_year - static_cast<int>(date->year())) <= 1,
                "the ISO year is the date's year or a neighbour");
  }
  if (const auto month = stats::parse_month(line)) {
    const auto last = stats::last_day_of_month(month->year, month->month);
    if (month->month >= 1 && month->month <= 12) {
      fuzz::check(last && *last >= 28 && *last <= 31, "a month ends on day 28 to 31");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const auto line : fuzz::split(fuzz::as_text(data, size), '\n')) check_line(line);
  return 0;
}
