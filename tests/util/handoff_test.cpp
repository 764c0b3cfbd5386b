#include "util/handoff.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using Queue = handoff::Queue<std::string>;

Queue by_length(std::size_t budget) {
  return Queue(budget, [](const std::string& item) { return item.size(); });
}

TEST(HandoffTest, TheMakerWaitsForRoomAndTheTakerGetsEverythingInOrder) {
  // Each case: the budget, and items some of which weigh more than it.
  const std::vector<std::pair<std::size_t, std::vector<std::string>>> cases = {
      {3, {"a", "bb", "ccc", "d", "ee"}},
      {2, {"heavy", "x", "heavier", "y"}},
      {100, {}},
  };
  for (const auto& [budget, items] : cases) {
    auto queue = by_length(budget);
    std::jthread maker([&, &items = items] {
      for (const auto& item : items) EXPECT_TRUE(queue.put(item));
      queue.finish();
    });
    std::vector<std::string> taken;
    while (auto item = queue.take()) taken.push_back(std::move(*item));
    EXPECT_EQ(taken, items) << "budget " << budget;
    EXPECT_FALSE(queue.take());
  }
}

TEST(HandoffTest, StoppingReleasesAMakerWaitingForRoom) {
  Queue queue(1);
  ASSERT_TRUE(queue.put("first"));
  std::jthread maker([&] {
    // Full: waits until the taker stops, then is told it wants no more.
    EXPECT_FALSE(queue.put("second"));
    EXPECT_FALSE(queue.put("third"));
    queue.finish();
  });
  queue.stop();
  maker.join();
  EXPECT_FALSE(queue.take());
}

}  // namespace
