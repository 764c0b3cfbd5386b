#pragma once

// Text of megabytes made before the writer takes it (the record-topics map as
// JSON). Grown as one string, it would stand in memory up to twice over while
// its buffer doubles and once more when copied; held in pieces of a fixed
// size, it takes little more than its own bytes, and the writer streams it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.hpp"

namespace files {

class HeldText final : public ByteSink {
 public:
  // Big enough that a piece costs the allocator nothing worth counting, small
  // enough that the last, partly filled one wastes little.
  static constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

  void put(std::string_view bytes) override;

  std::size_t size() const { return size_; }

  // Streams the text into `sink` piece by piece, stopping early once the sink
  // is full.
  void write_to(ByteSink& sink) const;

  // What streams the text for an OutputFile; the text goes with the last copy
  // of it.
  static Producer producer(HeldText text);

 private:
  std::vector<std::string> pieces_;
  std::size_t size_ = 0;
};

}  // namespace files
