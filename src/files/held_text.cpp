#include "files/held_text.hpp"

#include <algorithm>
#include <memory>
#include <utility>

namespace files {

void HeldText::put(std::string_view bytes) {
  size_ += bytes.size();
  while (!bytes.empty()) {
    if (pieces_.empty() || pieces_.back().size() == kPieceBytes) {
      pieces_.emplace_back().reserve(kPieceBytes);
    }
    std::string& piece = pieces_.back();
    const std::size_t taken = std::min(bytes.size(), kPieceBytes - piece.size());
    piece.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
  }
}

void HeldText::write_to(ByteSink& sink) const {
  for (const auto& piece : pieces_) {
    if (sink.full()) return;
    sink.put(piece);
  }
}

Producer HeldText::producer(HeldText text) {
  // The last piece is rarely full: it keeps only what it holds.
  if (!text.pieces_.empty()) text.pieces_.back().shrink_to_fit();
  // A Producer is copied with its file; the pieces are not.
  auto held = std::make_shared<const HeldText>(std::move(text));
  return [held](ByteSink& sink) { held->write_to(sink); };
}

}  // namespace files
