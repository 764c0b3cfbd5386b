#pragma once

// Reading an open file: whole, in pieces cut where no UTF-8 sequence is
// split, or only to learn what it holds.

#include <cstdint>
#include <expected>
#include <limits>
#include <string>
#include <string_view>

#include "files/file_system.hpp"
#include "util/content_hash.hpp"

namespace files {

// The rest of `file`, read to its end; more than `max_bytes` gives
// too_large_text.
std::expected<std::string, std::string> read_all(
    ReadFile& file, std::uint64_t max_bytes = std::numeric_limits<std::uint64_t>::max());

// Adds the rest of `file`, read to its end, to `hash`; false at a read
// failure or once a signal is noted.
bool hash_rest(ReadFile& file, hashing::ContentHash& hash);

// Reads an open file in pieces and checks, as it goes, that its bytes are
// UTF-8, so a large file can be parsed without standing whole in memory.
class Utf8Reader {
 public:
  // With `hash`, every byte read is also added to it, as it is read.
  explicit Utf8Reader(ReadFile& file, hashing::ContentHash* hash = nullptr)
      : file_(file), hash_(hash) {}

  // The next piece, cut where no UTF-8 sequence is split; empty at the end, at
  // a read failure or at bytes that are not UTF-8.
  std::string_view next();

  // False once a read failed or the bytes so far were not UTF-8 (a sequence
  // cut short by the end of the file included).
  bool ok() const { return ok_; }

 private:
  ReadFile& file_;
  hashing::ContentHash* hash_;
  std::string piece_;
  std::string carry_;
  bool ok_ = true;
  bool done_ = false;
};

}  // namespace files
