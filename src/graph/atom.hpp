#pragma once

// The strings of a graph (ids, names, dates, titles), each held once in the
// process's one string table and referred to by a 32-bit index. A graph of a
// large workspace repeats its ids hundreds of thousands of times: as indexes
// they cost four bytes each, compare as integers and index dense tables.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace graph {

class Atom {
 public:
  // The empty string.
  Atom() = default;
  // Interns `text`: the same text always gives the same index.
  Atom(std::string_view text);  // NOLINT: a graph's strings are written as text
  Atom(const char* text) : Atom(std::string_view(text)) {}
  Atom(const std::string& text) : Atom(std::string_view(text)) {}

  // The atom of `text` when it has been interned, without interning it: a
  // lookup must not grow the table.
  static std::optional<Atom> find(std::string_view text);
  // How many atoms exist: every index is below it.
  static std::size_t count();

  std::string_view view() const;
  operator std::string_view() const { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }
  std::uint32_t index() const { return index_; }
  bool empty() const { return index_ == 0; }

  friend bool operator==(Atom a, Atom b) { return a.index_ == b.index_; }
  friend bool operator==(Atom a, std::string_view b) { return a.view() == b; }
  friend bool operator==(Atom a, const char* b) { return a.view() == b; }
  friend bool operator==(Atom a, const std::string& b) { return a.view() == b; }

 private:
  std::uint32_t index_ = 0;
};

inline std::ostream& operator<<(std::ostream& out, Atom atom) { return out << atom.view(); }

}  // namespace graph

template <>
struct std::hash<graph::Atom> {
  std::size_t operator()(graph::Atom atom) const noexcept { return atom.index(); }
};

template <>
struct fmt::formatter<graph::Atom> : fmt::formatter<std::string_view> {
  auto format(graph::Atom atom, format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(atom.view(), ctx);
  }
};
