#include "stats/dates.hpp"

#include <ctime>

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "util/text.hpp"

namespace stats {

std::optional<MonthKey> parse_month(std::string_view text) {
  if (text.size() != 7 || text[4] != '-') return std::nullopt;
  const auto year = text.substr(0, 4), month = text.substr(5, 2);
  if (!text::all_ascii_digits(year) || !text::all_ascii_digits(month)) return std::nullopt;
  return MonthKey{text::ascii_digits_value(year), text::ascii_digits_value(month)};
}

std::string format_date(std::chrono::year_month_day date) {
  return fmt::format("{:04}-{:02}-{:02}", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
}

std::chrono::year_month_day add_days(std::chrono::year_month_day date, int days) {
  return std::chrono::year_month_day{std::chrono::sys_days{date} + std::chrono::days{days}};
}

std::optional<unsigned> last_day_of_month(int year, int month) {
  const int next_year = month == 12 ? year + 1 : year;
  const int next_month = month == 12 ? 1 : month + 1;
  if (next_month < 1 || next_month > 12) return std::nullopt;
  const std::chrono::year_month_day first{std::chrono::year{next_year},
                                          std::chrono::month{static_cast<unsigned>(next_month)},
                                          std::chrono::day{1}};
  if (!first.ok()) return std::nullopt;
  return static_cast<unsigned>(add_days(first, -1).day());
}

std::string iso_week_key(std::chrono::year_month_day date) {
  // The fields of the day filled from the calendar rather than by gmtime,
  // whose range is the C library's: on Windows it refuses years far from
  // 1970 (and through system_clock's nanoseconds any before 1677 or after
  // 2262 overflowed).
  const std::chrono::sys_days day{date};
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  tm.tm_yday = static_cast<int>((day - std::chrono::sys_days{date.year() / 1 / 1}).count());
  tm.tm_wday = static_cast<int>(std::chrono::weekday{day}.c_encoding());
  return fmt::format("{:%G-w%V}", tm);
}

}  // namespace stats
