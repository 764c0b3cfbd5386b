#pragma once

// The Unicode character properties the text helpers need, as tables made by
// scripts/gen-unicode-tables.py from the Unicode Character Database (the data is
// in unicode_tables.cpp), so that the command needs no Unicode library.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>

namespace text::unicode {

// The version of the Unicode Character Database the tables come from, "15.0.0".
extern const std::string_view version;

// The code points `first` to `last`, both included.
struct Range {
  char32_t first;
  char32_t last;
};

// The code points `first`, `first + step`, ... up to `last`, each of which
// folds to itself plus `delta`.
struct FoldRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint32_t step;
};

// White_Space, sorted, disjoint and not adjacent.
extern const std::span<const Range> white_space;

// Alphabetic or general category Nd, Nl or No, sorted, disjoint and not adjacent.
extern const std::span<const Range> alphabetic_or_numeric;

// The simple case folding (CaseFolding.txt, statuses C and S), sorted by code
// point; no code point that a run's step skips has a folding.
extern const std::span<const FoldRun> simple_case_folding;

// True when `c` lies in one of `ranges`.
inline bool in_ranges(std::span<const Range> ranges, char32_t c) {
  const auto range =
      std::ranges::partition_point(ranges, [c](const Range& r) { return r.last < c; });
  return range != ranges.end() && range->first <= c;
}

// The simple case folding of `c`, or `c` itself when it has none.
inline char32_t simple_fold(char32_t c) {
  const auto runs = simple_case_folding;
  const auto run = std::ranges::partition_point(runs, [c](const FoldRun& r) { return r.last < c; });
  if (run == runs.end() || c < run->first || (c - run->first) % run->step != 0) return c;
  return static_cast<char32_t>(static_cast<std::int32_t>(c) + run->delta);
}

}  // namespace text::unicode
