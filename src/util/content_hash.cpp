#include "util/content_hash.hpp"

#include <unistd.h>

#include <cerrno>
#include <new>

#include <xxhash.h>

#include "util/interrupt.hpp"

namespace fsx {

void ContentHash::Free::operator()(XXH3_state_s* state) const { XXH3_freeState(state); }

ContentHash::ContentHash() : state_(XXH3_createState()) {
  if (!state_) throw std::bad_alloc();
  XXH3_64bits_reset(state_.get());
}

void ContentHash::add(std::string_view bytes) {
  XXH3_64bits_update(state_.get(), bytes.data(), bytes.size());
}

std::uint64_t ContentHash::digest() const { return XXH3_64bits_digest(state_.get()); }

std::uint64_t content_hash(std::string_view bytes) {
  return XXH3_64bits(bytes.data(), bytes.size());
}

bool hash_rest(int fd, ContentHash& hash) {
  constexpr std::size_t kPieceBytes = 1 << 20;
  const auto piece = std::make_unique_for_overwrite<char[]>(kPieceBytes);
  for (;;) {
    // The rest of a large file on a slow drive takes a while: a stopped run
    // does not wait for it.
    if (interrupt::noted() != 0) return false;
    const ssize_t got = ::read(fd, piece.get(), kPieceBytes);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    hash.add({piece.get(), static_cast<std::size_t>(got)});
  }
}

}  // namespace fsx
