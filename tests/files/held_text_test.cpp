#include "files/held_text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Keeps what it is given, and is full after `limit` pieces.
struct Collected final : files::ByteSink {
  explicit Collected(std::size_t limit = SIZE_MAX) : limit(limit) {}
  void put(std::string_view bytes) override {
    text += bytes;
    ++pieces;
  }
  bool full() const override { return pieces >= limit; }
  std::string text;
  std::size_t pieces = 0;
  std::size_t limit;
};

TEST(HeldTextTest, StreamsWhatItWasGivenAcrossPieceBoundaries) {
  constexpr std::size_t piece = files::HeldText::kPieceBytes;
  // Each case: the sizes of the puts.
  const std::vector<std::vector<std::size_t>> cases = {
      {}, {0, 5, 0}, {piece}, {piece - 1, 2, piece + 3}, {3 * piece + 7},
  };
  for (const auto& sizes : cases) {
    files::HeldText held;
    std::string expected;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      const std::string bytes(sizes[i], static_cast<char>('a' + i));
      held.put(bytes);
      expected += bytes;
    }
    EXPECT_EQ(held.size(), expected.size());
    const auto producer = files::HeldText::producer(std::move(held));
    Collected all;
    producer(all);
    EXPECT_EQ(all.text, expected);
    // A copy of the producer streams the same bytes again.
    const auto copy = producer;
    Collected again;
    copy(again);
    EXPECT_EQ(again.text, expected);
  }
}

TEST(HeldTextTest, StopsOnceTheSinkIsFull) {
  files::HeldText held;
  held.put(std::string(2 * files::HeldText::kPieceBytes + 1, 'x'));
  Collected first_piece(1);
  files::HeldText::producer(std::move(held))(first_piece);
  EXPECT_EQ(first_piece.text.size(), files::HeldText::kPieceBytes);
}

}  // namespace
