#pragma once

// What the run is doing, for a progress display: stages name themselves and
// count their steps as they go; the display reads the state from its own
// thread. Nothing here prints.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace progress {

// Starts a stage called `label`; when `total` > 0 the display shows the steps
// done against it, followed by `unit`.
void begin(std::string_view label, std::size_t total = 0, std::string_view unit = {});

// One more step of the current stage done; safe from any thread.
void advance(std::size_t steps = 1);

// The current stage as one line, such as "扫描 45,000/100,000 个记录文件", or
// "" before the first stage.
std::string line();

// Each stage begun so far, with the seconds from the first stage's start to
// its own: where a run's time goes, for those who measure it.
std::vector<std::pair<std::string, double>> timeline();

// `n` with a comma between groups of three digits.
std::string grouped(std::size_t n);

}  // namespace progress
