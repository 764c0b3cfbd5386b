#pragma once

// Items handed from a thread that makes them to one that takes them, through
// a queue of bounded weight: the maker waits while it is full, so what it
// makes ahead of the taker stays bounded whatever the size of the whole.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace handoff {

template <typename T>
class Queue {
 public:
  using Weight = std::function<std::size_t(const T&)>;

  // Holds items of `budget` in all by `weight` (each item weighs 1 without
  // one); an item heavier than the budget is held alone.
  explicit Queue(std::size_t budget, Weight weight = {})
      : budget_(budget), weight_(std::move(weight)) {}

  // Waits for room. False once the taker has stopped: the item goes.
  bool put(T item) {
    const std::size_t weight = weight_ ? weight_(item) : 1;
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return items_.empty() || held_ + weight <= budget_ || stopped_; });
    if (stopped_) return false;
    items_.emplace_back(std::move(item), weight);
    held_ += weight;
    ready_.notify_one();
    return true;
  }

  // The maker has no more: the taker gets what is queued, then nothing.
  void finish() {
    const std::lock_guard lock(mutex_);
    finished_ = true;
    ready_.notify_all();
  }

  // Waits for the next item; nothing once the maker has finished and every
  // item was taken.
  std::optional<T> take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !items_.empty() || finished_; });
    if (items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(items_.front().first));
    held_ -= items_.front().second;
    items_.pop_front();
    room_.notify_one();
    return item;
  }

  // The taker wants no more: a maker waiting for room, and any later put,
  // gets false, and what is queued goes.
  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    items_.clear();
    held_ = 0;
    room_.notify_all();
  }

 private:
  const std::size_t budget_;
  const Weight weight_;
  std::mutex mutex_;
  std::condition_variable room_;
  std::condition_variable ready_;
  // Each item with its weight.
  std::deque<std::pair<T, std::size_t>> items_;
  std::size_t held_ = 0;
  bool finished_ = false;
  bool stopped_ = false;
};

}  // namespace handoff
