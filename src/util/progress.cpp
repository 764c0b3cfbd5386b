#include "util/progress.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include <fmt/format.h>

namespace progress {
namespace {

struct State {
  std::mutex mutex;
  std::string label;
  std::string unit;
  std::size_t total = 0;
  std::atomic<std::size_t> done{0};
  std::chrono::steady_clock::time_point started;
  std::vector<std::pair<std::string, double>> timeline;
};

State& state() {
  static State instance;
  return instance;
}

}  // namespace

void begin(std::string_view label, std::size_t total, std::string_view unit) {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  s.label = label;
  s.unit = unit;
  s.total = total;
  s.done = 0;
  const auto now = std::chrono::steady_clock::now();
  if (s.timeline.empty()) s.started = now;
  s.timeline.emplace_back(label, std::chrono::duration<double>(now - s.started).count());
}

std::vector<std::pair<std::string, double>> timeline() {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  return s.timeline;
}

void advance(std::size_t steps) { state().done.fetch_add(steps, std::memory_order_relaxed); }

std::string line() {
  State& s = state();
  const std::lock_guard lock(s.mutex);
  if (s.total == 0) return s.label;
  const std::size_t done = std::min(s.done.load(std::memory_order_relaxed), s.total);
  return fmt::format("{} {}/{} {}", s.label, grouped(done), grouped(s.total), s.unit);
}

std::string grouped(std::size_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

}  // namespace progress
