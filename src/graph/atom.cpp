#include "graph/atom.hpp"

#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace graph {

namespace {

// Entries live in chunks that never move, so a view handed out stays valid
// while the table grows, and reading one needs no lock: an index only reaches
// another thread through the synchronisation that handed it over.
class Table {
 public:
  Table() { insert_new(std::string_view(), hash_of({})); }

  std::uint32_t intern(std::string_view text) {
    const std::uint32_t hash = hash_of(text);
    const std::lock_guard lock(mutex_);
    if (const auto found = lookup(text, hash)) return *found;
    return insert_new(text, hash);
  }

  std::optional<std::uint32_t> find(std::string_view text) {
    const std::uint32_t hash = hash_of(text);
    const std::lock_guard lock(mutex_);
    return lookup(text, hash);
  }

  std::string_view view(std::uint32_t index) const {
    const Entry& e =
        chunks_[index >> kChunkBits].load(std::memory_order_acquire)[index & kChunkMask];
    return {e.data, e.size};
  }

  std::size_t count() {
    const std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  struct Entry {
    const char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t hash = 0;
  };
  static constexpr unsigned kChunkBits = 16;
  static constexpr std::uint32_t kChunkMask = (1u << kChunkBits) - 1;
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

  static std::uint32_t hash_of(std::string_view text) {
    const std::size_t h = std::hash<std::string_view>{}(text);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
  }

  const Entry& entry(std::uint32_t index) const {
    return chunks_[index >> kChunkBits].load(std::memory_order_relaxed)[index & kChunkMask];
  }

  std::optional<std::uint32_t> lookup(std::string_view text, std::uint32_t hash) const {
    if (slots_.empty()) return std::nullopt;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      const std::uint64_t slot = slots_[at];
      const auto index = static_cast<std::uint32_t>(slot);
      if (index == kEmpty) return std::nullopt;
      if (slot >> 32 != hash) continue;
      const Entry& e = entry(index);
      if (std::string_view(e.data, e.size) == text) return index;
    }
  }

  std::uint32_t insert_new(std::string_view text, std::uint32_t hash) {
    if (count_ >= std::numeric_limits<std::uint32_t>::max())
      throw std::length_error("string table full");
    const auto index = static_cast<std::uint32_t>(count_);
    auto& chunk = chunks_[index >> kChunkBits];
    if (chunk.load(std::memory_order_relaxed) == nullptr) {
      owned_chunks_.push_back(
          std::make_unique_for_overwrite<Entry[]>(std::size_t{1} << kChunkBits));
      chunk.store(owned_chunks_.back().get(), std::memory_order_release);
    }
    chunk.load(std::memory_order_relaxed)[index & kChunkMask] = {
        store(text), static_cast<std::uint32_t>(text.size()), hash};
    ++count_;
    if (2 * count_ > slots_.size()) {
      grow();
    } else {
      place(index, hash);
    }
    return index;
  }

  const char* store(std::string_view text) {
    if (text.empty()) return "";
    if (text.size() > kBlockBytes / 16) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
      std::memcpy(blocks_.back().get(), text.data(), text.size());
      return blocks_.back().get();
    }
    if (block_used_ + text.size() > kBlockBytes || current_ == nullptr) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
      current_ = blocks_.back().get();
      block_used_ = 0;
    }
    char* at = current_ + block_used_;
    std::memcpy(at, text.data(), text.size());
    block_used_ += text.size();
    return at;
  }

  void place(std::uint32_t index, std::uint32_t hash) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    while (static_cast<std::uint32_t>(slots_[at]) != kEmpty) at = (at + 1) & mask;
    slots_[at] = (std::uint64_t{hash} << 32) | index;
  }

  void grow() {
    slots_.assign(std::max<std::size_t>(1024, slots_.size() * 2), kEmpty);
    for (std::uint32_t i = 1; i < count_; ++i) place(i, entry(i).hash);
  }

  // The empty string is atom 0 and never in the slots: 0 marks a free slot.
  static constexpr std::uint32_t kEmpty = 0;

  std::mutex mutex_;
  std::array<std::atomic<Entry*>, (std::size_t{1} << (32 - kChunkBits))> chunks_{};
  std::vector<std::unique_ptr<Entry[]>> owned_chunks_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* current_ = nullptr;
  std::size_t block_used_ = 0;
  std::size_t count_ = 0;
  // The hash beside the index, so that a probe reads an entry only when the
  // hashes agree.
  std::vector<std::uint64_t> slots_;
};

Table& table() {
  // Never destroyed: views may be read by anything that runs at exit.
  static Table* const instance = new Table();
  return *instance;
}

}  // namespace

Atom::Atom(std::string_view text) : index_(text.empty() ? 0 : table().intern(text)) {}

std::optional<Atom> Atom::find(std::string_view text) {
  if (text.empty()) return Atom();
  const auto index = table().find(text);
  if (!index) return std::nullopt;
  Atom atom;
  atom.index_ = *index;
  return atom;
}

std::size_t Atom::count() { return table().count(); }

std::string_view Atom::view() const { return table().view(index_); }

}  // namespace graph
