// A goal file: the parser, and entry lines filed into its sections both one at
// a time by the slow model of the tests and in one pass with GoalTextBuilder.
// Input: the file text, then filing requests after form feeds, each either
// "section\nline" or a bare line (filed at the end). Every line gets the "- "
// of an entry line, as the goal stage only ever files those.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_input.hpp"
#include "goals/goal_file.hpp"
#include "goals/goal_text.hpp"
#include "support/goal_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto pieces = fuzz::split(fuzz::as_text(data, size), '\f');
  const auto base = pieces.front();

  const auto parsed = goals::parse_goal_file("目标", base);
  for (const auto& section : parsed.sections) {
    for (const auto& entry : section.entries) {
      for (const auto rating :
           {entry.initiative, entry.focus, entry.persistence, entry.affect, entry.reflection}) {
        fuzz::check(rating <= 3, "rating is 0 to 3");
      }
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> requests;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const auto lines = fuzz::split(pieces[i], '\n');
    if (lines.size() == 1) {
      requests.emplace_back("- " + std::string(lines[0]), std::nullopt);
    } else {
      requests.emplace_back("- " + std::string(lines[1]), std::string(lines[0]));
    }
  }

  std::string expected(base);
  goals::GoalTextBuilder builder(std::string(base), goals::ReuseLines::No);
  goals::GoalTextBuilder reusing(std::string(base), goals::ReuseLines::Yes);
  bool reused_wrote = false;
  for (const auto& [line, section] : requests) {
    const std::size_t before = expected.size();
    const bool unterminated = expected.empty() || !expected.ends_with('\n');
    expected = testing_support::insert_entry_line(expected, line, section);
    const std::size_t added = expected.size() - before;
    fuzz::check(added == line.size() + 1 || (unterminated && added == line.size() + 2),
                "filing adds the line, and a line end only to an unterminated text");
    fuzz::check(builder.file(line, section), "a builder without reuse always writes");
    reused_wrote |= reusing.file(line, section);
  }
  fuzz::check(builder.text() == expected, "builder equals insert_entry_line in turn");
  fuzz::check(reusing.changed() == reused_wrote, "changed() tells whether a line was written");
  if (!reused_wrote) fuzz::check(reusing.text() == base, "claiming every line keeps the text");
  return 0;
}
