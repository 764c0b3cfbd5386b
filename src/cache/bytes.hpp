#pragma once

// The bytes of a cache file: fixed-size numbers little-endian, whatever the
// machine, so a cache means the same everywhere; texts after their length.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "util/text.hpp"

namespace cache {

// A cache is tens of megabytes at 100,000 records: its bytes go out in
// pieces as they are made, never whole.
class Out {
 public:
  using Put = std::function<void(std::string_view)>;
  explicit Out(Put put) : put_(std::move(put)) {}
  ~Out() { flush(); }
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  void u8(std::uint8_t v) {
    bytes_.push_back(static_cast<char>(v));
    if (bytes_.size() >= kPiece) flush();
  }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void i64(std::int64_t v) { u64(std::bit_cast<std::uint64_t>(v)); }
  void f32(float v) { u32(std::bit_cast<std::uint32_t>(v)); }
  void text(std::string_view s) {
    u32(static_cast<std::uint32_t>(s.size()));
    bytes_.append(s);
    if (bytes_.size() >= kPiece) flush();
  }
  void raw(std::string_view s) { bytes_.append(s); }
  void flush() {
    if (!bytes_.empty()) put_(bytes_);
    bytes_.clear();
  }

 private:
  static constexpr std::size_t kPiece = 1 << 16;
  Put put_;
  std::string bytes_;
};

// Every read checks that the bytes are there; the first that is not makes
// the whole cache unusable.
class In {
 public:
  explicit In(std::string_view bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  bool at_end() const { return at_ == bytes_.size(); }
  std::size_t at() const { return at_; }
  std::size_t left() const { return bytes_.size() - at_; }
  std::uint64_t unsigned_of(int n) {
    if (!ok_ || left() < static_cast<std::size_t>(n)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    }
    at_ += static_cast<std::size_t>(n);
    return v;
  }
  std::uint8_t u8() { return static_cast<std::uint8_t>(unsigned_of(1)); }
  std::uint32_t u32() { return static_cast<std::uint32_t>(unsigned_of(4)); }
  std::uint64_t u64() { return unsigned_of(8); }
  std::int64_t i64() { return std::bit_cast<std::int64_t>(u64()); }
  float f32() { return std::bit_cast<float>(u32()); }
  // Bytes as they were put, such as a POSIX path.
  std::string_view bytes() {
    const std::uint32_t size = u32();
    if (!ok_ || left() < size) {
      ok_ = false;
      return {};
    }
    const auto v = bytes_.substr(at_, size);
    at_ += size;
    return v;
  }
  std::string_view text() {
    const auto v = bytes();
    if (!text::is_valid_utf8(v)) ok_ = false;
    return v;
  }
  void fail() { ok_ = false; }
  void skip(std::size_t n) {
    if (!ok_ || left() < n) {
      ok_ = false;
      return;
    }
    at_ += n;
  }

 private:
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

}  // namespace cache
