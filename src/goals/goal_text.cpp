#include "goals/goal_text.hpp"

#include "goals/goal_file.hpp"

namespace goals {

GoalTextBuilder::GoalTextBuilder(std::string base, ReuseLines reuse) : base_(std::move(base)) {
  const std::string_view text = base_;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    auto piece = text.substr(start, end - start);
    const std::size_t index = piece_start_.size();
    piece_start_.push_back(start);
    if (const auto name = heading_name_for_append(piece)) {
      first_heading_.emplace(std::string(*name), heading_piece_.size());
      heading_piece_.push_back(index);
    }
    if (reuse == ReuseLines::Yes) {
      if (piece.ends_with('\n')) {
        piece.remove_suffix(1);
        if (piece.ends_with('\r')) piece.remove_suffix(1);
      }
      unclaimed_[std::string(piece)].insert(index);
    }
    start = end;
  }
  piece_start_.push_back(text.size());
  before_heading_.resize(heading_piece_.size());
}

bool GoalTextBuilder::file(std::string_view line, std::optional<std::string_view> section) {
  const std::size_t piece_count = piece_start_.size() - 1;
  std::size_t low = 0;
  std::size_t high = piece_count;
  std::string* destination = &tail_;
  if (section) {
    if (const auto found = first_heading_.find(*section); found != first_heading_.end()) {
      const std::size_t heading = found->second;
      low = heading_piece_[heading] + 1;
      if (heading + 1 < heading_piece_.size()) {
        high = heading_piece_[heading + 1];
        destination = &before_heading_[heading + 1];
      }
    }
  }

  if (const auto same = unclaimed_.find(line); same != unclaimed_.end()) {
    const auto candidate = same->second.lower_bound(low);
    if (candidate != same->second.end() && *candidate < high) {
      same->second.erase(candidate);
      return false;
    }
  }

  if (destination == &tail_ && tail_.empty() && (base_.empty() || base_.back() != '\n')) {
    tail_ += '\n';
  }
  *destination += line;
  *destination += '\n';
  changed_ = true;
  return true;
}

std::string GoalTextBuilder::text() const {
  std::string out;
  std::size_t size = base_.size() + tail_.size();
  for (const auto& lines : before_heading_) size += lines.size();
  out.reserve(size);
  std::size_t copied = 0;
  for (std::size_t heading = 0; heading < heading_piece_.size(); ++heading) {
    if (before_heading_[heading].empty()) continue;
    const std::size_t at = piece_start_[heading_piece_[heading]];
    out.append(base_, copied, at - copied);
    out += before_heading_[heading];
    copied = at;
  }
  out.append(base_, copied);
  out += tail_;
  return out;
}

}  // namespace goals
