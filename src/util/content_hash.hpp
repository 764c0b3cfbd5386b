#pragma once

// What a file held, in 64 bits: XXH3, fast enough to run over every byte of a
// graph of tens of megabytes as it is read, and again at the commit. Not
// proof against anyone choosing bytes to collide; it tells an edit made by
// hand or by the note application from the bytes the run loaded.

#include <cstdint>
#include <memory>
#include <string_view>

struct XXH3_state_s;

namespace hashing {

// The hash of bytes that come in pieces; the same as content_hash of them
// whole.
class ContentHash {
 public:
  ContentHash();
  void add(std::string_view bytes);
  std::uint64_t digest() const;

 private:
  struct Free {
    void operator()(XXH3_state_s* state) const;
  };
  std::unique_ptr<XXH3_state_s, Free> state_;
};

// The hash of `bytes` whole.
std::uint64_t content_hash(std::string_view bytes);

}  // namespace hashing
