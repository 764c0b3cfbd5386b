#pragma once

// Calendar helpers for the statistics: parsing the date and month texts the
// periods are named by, stepping days, month ends and ISO week keys.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "journal/files.hpp"

namespace stats {

// A YYYY-MM text taken apart; the month is not checked against the calendar.
struct MonthKey {
  int year;
  int month;
};

// The real calendar date of a text of exactly 10 bytes in the form YYYY-MM-DD.
inline std::optional<std::chrono::year_month_day> parse_date(std::string_view text) {
  return journal::parse_calendar_date(text);
}

// A text of exactly 7 bytes, four digits, "-", two digits.
std::optional<MonthKey> parse_month(std::string_view text);

// `date` as "YYYY-MM-DD".
std::string format_date(std::chrono::year_month_day date);

// `date` moved by `days` calendar days.
std::chrono::year_month_day add_days(std::chrono::year_month_day date, int days);

// The day before the first of the following month (December rolls into the next
// year), as a day number; nothing when that first day is no calendar date.
std::optional<unsigned> last_day_of_month(int year, int month);

// "{ISO week-numbering year}-w{ISO week, two digits}" of `date`.
std::string iso_week_key(std::chrono::year_month_day date);

}  // namespace stats
