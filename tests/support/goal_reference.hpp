#pragma once

// Goal-file filing one line at a time, re-reading the whole text for each line:
// the slow, obvious model the one-pass GoalTextBuilder is held to.

#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

// `text` with `line` filed at the end of the first section named `section`
// (directly before the next heading), or appended at the end when there is no
// section or no heading of that name; an unterminated last line is ended first
// (an empty text becomes "\n" + line + "\n").
std::string insert_entry_line(std::string_view text, std::string_view line,
                              std::optional<std::string_view> section);

}  // namespace testing_support
