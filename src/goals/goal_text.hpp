#pragma once

// A goal file's text with many entry lines filed into it in memory. The result
// equals filing each line in turn, re-reading the text each time (each at the
// end of the first section of its name, else at the end of the file), but the
// text is scanned once, so a goal with tens of thousands of records stays
// linear.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace goals {

// Whether lines already in the base text can stand for equal new lines.
enum class ReuseLines { No, Yes };

class GoalTextBuilder {
 public:
  // Starts from `base`. With ReuseLines::Yes, lines already in `base` can be
  // claimed by equal new lines instead of being written a second time, so a
  // file that the run does not reset keeps its content from the previous run.
  GoalTextBuilder(std::string base, ReuseLines reuse);

  // Files `line` into the first section named `section` (or at the end). When
  // reuse is on and the target region holds an unclaimed equal line of the base
  // text, that line is claimed and nothing is written. True when written.
  bool file(std::string_view line, std::optional<std::string_view> section);

  // True once any line has been written.
  bool changed() const { return changed_; }

  // The whole text as it stands.
  std::string text() const;

 private:
  std::string base_;
  // Start offset of every piece (a line with its "\n"), plus base_.size().
  std::vector<std::size_t> piece_start_;
  // Piece index of every heading, in file order.
  std::vector<std::size_t> heading_piece_;
  // Heading index of the first heading of each section name.
  std::map<std::string, std::size_t, std::less<>> first_heading_;
  // Lines filed directly before each heading.
  std::vector<std::string> before_heading_;
  std::string tail_;
  // Unclaimed base lines by text (without line end), as piece indices.
  std::map<std::string, std::set<std::size_t>, std::less<>> unclaimed_;
  bool changed_ = false;
};

}  // namespace goals
