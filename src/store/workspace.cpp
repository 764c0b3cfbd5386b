#include "store/workspace.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <chrono>
#include <functional>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <fmt/ostream.h>

#include "store/atomic.hpp"
#include "store/layout.hpp"
#include "util/fs.hpp"

namespace store {
namespace {

// Size and hash of bytes seen piece by piece, whatever the pieces: enough to
// tell whether a state file still holds what this run saved. The bytes are
// hashed in fixed blocks, so the writer's pieces and the reader's agree.
struct Digest {
  static constexpr std::size_t kBlock = 1 << 16;
  std::size_t size = 0;
  std::uint64_t hash = 0;
  std::string block;

  void add(std::string_view bytes) {
    size += bytes.size();
    while (!bytes.empty()) {
      const std::size_t take = std::min(kBlock - block.size(), bytes.size());
      block.append(bytes.substr(0, take));
      bytes.remove_prefix(take);
      if (block.size() == kBlock) mix();
    }
  }

  // The hash of everything added.
  std::uint64_t finish() {
    mix();
    return hash;
  }

  void mix() {
    hash = hash * 0x100000001b3ULL ^ std::hash<std::string_view>{}(block);
    block.clear();
  }

  // Passes bytes on to a sink and adds them to a digest.
  struct Tee final : ByteSink {
    Tee(ByteSink& out, Digest& digest) : out_(out), digest_(digest) {}
    void put(std::string_view bytes) override {
      digest_.add(bytes);
      out_.put(bytes);
    }
    ByteSink& out_;
    Digest& digest_;
  };
};

}  // namespace

Workspace::Workspace(std::filesystem::path root, FileHook* hook)
    : tree_(std::move(root), hook), hook_(hook) {}

std::expected<void, std::string> Workspace::ensure_system_dirs() const {
  for (const auto dir : {kSystemDir, kGoalsDir, kTopicsDir, kStatsDir}) {
    if (auto made = tree_.create_directories(dir); !made) {
      return std::unexpected("创建 .system 目录失败: " + made.error());
    }
  }
  return {};
}

bool Workspace::holds(const std::filesystem::path& relative, std::string_view bytes) const {
  auto fd = tree_.open_read(relative);
  if (!fd) return false;
  // A different size settles it without reading.
  struct stat st{};
  if (::fstat(fd->get(), &st) != 0 || static_cast<std::uint64_t>(st.st_size) != bytes.size()) return false;
  const auto existing = fsx::read_all(fd->get());
  return existing && *existing == bytes;
}

std::expected<void, std::string> Workspace::write(const std::filesystem::path& relative,
                                                  std::string_view bytes,
                                                  std::string_view failure_prefix) const {
  // A file that already holds these bytes, with no leftover temporary beside
  // it, is left as it is: a repeated run then creates no new files, which on a
  // busy disk is most of its cost, and readers see the same bytes either way.
  auto temporary = relative;
  temporary += ".tmp";
  if (tree_.kind(temporary) == EntryKind::Missing && holds(relative, bytes)) return {};
  if (auto written = write_atomic(tree_, relative, bytes); !written) {
    return std::unexpected(std::string(failure_prefix) + written.error().text());
  }
  return {};
}

std::pair<Found, std::string> Workspace::read_state(const std::filesystem::path& relative) const {
  switch (tree_.kind(relative)) {
    case EntryKind::Missing:
      return {Found::Missing, {}};
    case EntryKind::Regular:
      break;
    default:
      return {Found::NotRegular, {}};
  }
  auto bytes = tree_.read(relative);
  if (!bytes) return {Found::Unreadable, {}};
  return {Found::Valid, std::move(*bytes)};
}

std::pair<Found, fsx::UniqueFd> Workspace::open_state(
    const std::filesystem::path& relative) const {
  switch (tree_.kind(relative)) {
    case EntryKind::Missing:
      return {Found::Missing, fsx::UniqueFd{}};
    case EntryKind::Regular:
      break;
    default:
      return {Found::NotRegular, fsx::UniqueFd{}};
  }
  auto fd = tree_.open_read(relative);
  if (!fd) return {Found::Unreadable, fsx::UniqueFd{}};
  return {Found::Valid, std::move(*fd)};
}

Found Workspace::found(const std::filesystem::path& relative) const {
  const auto it = found_.find(relative);
  return it == found_.end() ? Found::Missing : it->second;
}

std::expected<void, std::string> Workspace::keep_copy(const std::filesystem::path& relative,
                                                      std::ostream& err) const {
  // The note application may have mended or removed it since the load.
  if (tree_.kind(relative) == EntryKind::Missing) return {};
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  auto copy = relative;
  copy += fmt::format(".bad-{:%Y%m%dT%H%M%SZ}", fmt::gmtime(now));
  const auto fail = [&](const std::string& reason) {
    return std::unexpected("保留副本失败: " + shown(copy).string() + ": " + reason);
  };
  const auto bytes = tree_.read(relative);
  if (!bytes) return fail(bytes.error());
  if (auto written = tree_.write_atomic(copy, *bytes, Durability::Durable); !written) {
    return fail(written.error());
  }
  fmt::print(err, "[warn] 无法读取 {}，已保留副本: {}\n", shown(relative).string(),
             shown(copy).string());
  return {};
}

std::expected<void, std::string> Workspace::save_state(const std::filesystem::path& relative,
                                                       std::string_view bytes,
                                                       std::string_view failure_prefix,
                                                       std::ostream& err) {
  return save_state(
      relative, [bytes](ByteSink& sink) { sink.put(bytes); }, failure_prefix, err);
}

std::expected<void, std::string> Workspace::save_state(const std::filesystem::path& relative,
                                                       const Producer& produce,
                                                       std::string_view failure_prefix,
                                                       std::ostream& err) {
  if (found(relative) == Found::Unreadable && !kept_.contains(relative)) {
    if (auto kept = keep_copy(relative, err); !kept) return kept;
    kept_.insert(relative);
  }
  Digest digest;
  const auto produce_and_digest = [&](ByteSink& sink) {
    Digest::Tee tee{sink, digest};
    produce(tee);
  };
  if (auto written = tree_.write_atomic(relative, produce_and_digest, Durability::Durable);
      !written) {
    return std::unexpected(std::string(failure_prefix) + StoreError::io(written.error()).text());
  }
  found_[relative] = Found::Valid;
  saved_[relative] = {digest.size, digest.finish()};
  return {};
}

bool Workspace::holds_saved(const std::filesystem::path& relative) const {
  const auto it = saved_.find(relative);
  if (it == saved_.end()) return false;
  const auto fd = tree_.open_read(relative);
  if (!fd) return false;
  Digest digest;
  std::string piece(1 << 20, '\0');
  for (;;) {
    const ssize_t got = ::read(fd->get(), piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    digest.add(std::string_view(piece.data(), static_cast<std::size_t>(got)));
  }
  return digest.size == it->second.first && digest.finish() == it->second.second;
}

}  // namespace store
