// A record file as the scan reads it: journal::parse_entry, then the inventory
// fields. The first line of the input is the file name, the rest its text.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "goals/goal_file.hpp"
#include "journal/entry.hpp"
#include "journal/scan.hpp"
#include "util/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = fuzz::as_text(data, size);
  const std::size_t newline = input.find('\n');
  const auto file_name = input.substr(0, newline);
  const auto text =
      newline == std::string_view::npos ? std::string_view{} : input.substr(newline + 1);

  // Whatever a record yields ends up in JSON files whose loaders refuse
  // ill-formed UTF-8, so well-formed input must give well-formed fields.
  const bool valid_input = text::is_valid_utf8(input);
  const auto title = journal::title_from_file_name(file_name);
  if (title && valid_input) fuzz::check(text::is_valid_utf8(*title), "file name title is UTF-8");

  // The scan reads only such names, and takes the date from their first bytes.
  if (!file_name.ends_with(".md") || file_name.size() < 10 ||
      !text::is_char_boundary(file_name, 10)) {
    return 0;
  }
  auto entry = journal::parse_entry(text, file_name.substr(0, 10), file_name);
  if (!entry) return 0;
  journal::add_inventory_fields(*entry, text);

  const auto& time = entry->time;
  fuzz::check(time.size() == 5 && time[2] == ':', "time is HH:MM");
  for (const auto rating : entry->ratings()) fuzz::check(rating <= 3, "rating is 0 to 3");
  fuzz::check(!entry->goal || !entry->goal->empty(), "a goal is never empty");
  fuzz::check(!entry->body.starts_with('\n') && !entry->body.ends_with('\n'),
              "body has no surrounding empty lines");
  for (std::size_t i = 0; i < entry->topics.size(); ++i) {
    fuzz::check(!entry->topics[i].empty(), "a topic is never empty");
    fuzz::check(std::find(entry->topics.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                          entry->topics.end(), entry->topics[i]) == entry->topics.end(),
                "topics are distinct");
  }
  if (valid_input) {
    fuzz::check(text::is_valid_utf8(entry->title) && text::is_valid_utf8(entry->body) &&
                    text::is_valid_utf8(entry->goal.value_or("")) &&
                    std::ranges::all_of(entry->topics, text::is_valid_utf8),
                "fields are UTF-8");
    fuzz::check(text::is_valid_utf8(goals::entry_line(*entry)), "entry line is UTF-8");
  }
  // Filed into a goal file, the entry must stay one line whatever it holds.
  fuzz::check(!text::has_control(goals::entry_line(*entry)), "an entry line is one line");
  return 0;
}
