#pragma once

// How a state file's JSON is read: one value, event by event, into a handler,
// from text or from an open file in pieces. The file form has no byte-order
// mark (the parser would skip one silently) and is UTF-8 throughout; anything
// else, and any exception of the parser, counts as not read.

#include <cstddef>
#include <iterator>
#include <string_view>

#include <nlohmann/json.hpp>

#include "util/fs.hpp"
#include "util/text.hpp"

namespace store {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// True when `text` is one JSON value that `handler` accepted throughout.
template <typename Handler>
bool read_json_events(std::string_view text, Handler& handler) {
  if (text.starts_with(kByteOrderMark) || !text::is_valid_utf8(text)) return false;
  try {
    return nlohmann::json::sax_parse(text, &handler);
  } catch (...) {
    return false;
  }
}

// Walks the pieces of a Utf8Reader as one run of characters, for the parser.
class PieceIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  PieceIterator() = default;
  explicit PieceIterator(fsx::Utf8Reader& reader) : reader_(&reader) { fill(); }

  reference operator*() const { return piece_[at_]; }
  PieceIterator& operator++() {
    if (++at_ == piece_.size()) fill();
    return *this;
  }
  // Only ever compared with the end.
  bool operator==(const PieceIterator& other) const { return reader_ == other.reader_; }
  std::string_view piece() const { return piece_; }

 private:
  void fill() {
    piece_ = reader_->next();
    at_ = 0;
    if (piece_.empty()) reader_ = nullptr;
  }

  fsx::Utf8Reader* reader_ = nullptr;
  std::string_view piece_;
  std::size_t at_ = 0;
};

// The same for the file open as `fd`, read in pieces so that a file of tens
// of megabytes never stands whole in memory.
template <typename Handler>
bool read_json_events(int fd, Handler& handler) {
  fsx::Utf8Reader reader(fd);
  PieceIterator first(reader);
  if (first.piece().starts_with(kByteOrderMark)) return false;
  try {
    return nlohmann::json::sax_parse(first, PieceIterator{}, &handler) && reader.ok();
  } catch (...) {
    return false;
  }
}

}  // namespace store
