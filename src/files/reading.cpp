#include "files/reading.hpp"

#include <algorithm>
#include <memory>

#include "util/interrupt.hpp"
#include "util/text.hpp"

namespace files {
namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

}  // namespace

std::expected<std::string, std::string> read_all(ReadFile& file, std::uint64_t max_bytes) {
  std::string content;
  // One byte more than the size, so that the end is found by the next read
  // and a file that grows is seen to grow.
  const auto identity = file.identity();
  const std::uint64_t size = identity ? identity->size : 0;
  content.resize(static_cast<std::size_t>(std::min(size, max_bytes)) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == content.size()) content.resize(used + (std::size_t{1} << 16));
    const auto got = file.read(std::span(content.data() + used, content.size() - used));
    if (!got) return std::unexpected(got.error().text);
    if (*got == 0) break;
    used += *got;
    // A file that grows while it is read stops at the limit all the same.
    if (used > max_bytes) return std::unexpected(too_large_text(used, max_bytes));
  }
  content.resize(used);
  return content;
}

bool hash_rest(ReadFile& file, hashing::ContentHash& hash) {
  const auto piece = std::make_unique_for_overwrite<char[]>(kPieceBytes);
  for (;;) {
    // The rest of a large file on a slow drive takes a while: a stopped run
    // does not wait for it.
    if (interrupt::noted() != 0) return false;
    const auto got = file.read(std::span(piece.get(), kPieceBytes));
    if (!got) return false;
    if (*got == 0) return true;
    hash.add({piece.get(), *got});
  }
}

std::string_view Utf8Reader::next() {
  // A file of tens of megabytes takes long enough to parse that a stopped run
  // must not wait for its end.
  if (interrupt::noted() != 0) {
    ok_ = false;
    done_ = true;
  }
  while (!done_) {
    piece_ = std::move(carry_);
    carry_.clear();
    const std::size_t kept = piece_.size();
    piece_.resize(kept + kPieceBytes);
    const auto got = file_.read(std::span(piece_.data() + kept, kPieceBytes));
    if (!got || *got == 0) {
      // A sequence left over at the end was cut short.
      ok_ = got && kept == 0;
      done_ = true;
      break;
    }
    piece_.resize(kept + *got);
    if (hash_ != nullptr) hash_->add(std::string_view(piece_).substr(kept));
    const std::size_t complete = text::complete_utf8_length(piece_);
    carry_.assign(piece_, complete);
    piece_.resize(complete);
    if (!text::is_valid_utf8(piece_)) {
      ok_ = false;
      done_ = true;
      break;
    }
    if (!piece_.empty()) return piece_;
  }
  return {};
}

}  // namespace files
