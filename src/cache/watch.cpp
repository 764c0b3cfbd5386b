#include "cache/watch.hpp"

#include <atomic>
#include <thread>

#include "files/path_text.hpp"
#include "util/content_hash.hpp"

namespace cache {
namespace {

// A hash of the names of a listing, each ended by a zero byte; 0 stands for
// a directory that could not be listed.
std::uint64_t names_hash(const std::expected<std::vector<files::DirEntry>, files::Error>& listed) {
  if (!listed) return 0;
  hashing::ContentHash hash;
  for (const auto& entry : *listed) {
    hash.add(entry.name);
    hash.add(std::string_view("\0", 1));
  }
  return hash.digest() | 1;
}

files::EntryKind kind_of(const std::optional<files::Stamp>& stamp) {
  if (!stamp) return files::EntryKind::Missing;
  return stamp->directory ? files::EntryKind::Directory : files::EntryKind::Regular;
}

}  // namespace

Seen look_again(const files::FileSystem& fs, Look look, const std::string& base,
                const std::string& relative) {
  Seen seen;
  seen.look = look;
  seen.base = base;
  seen.relative = relative;
  const auto base_path = files::utf8_path(base);
  const auto relative_path = files::utf8_path(relative);
  switch (look) {
    case Look::Entry:
      seen.kind = fs.kind(base_path, relative_path);
      if (seen.kind == files::EntryKind::Regular || seen.kind == files::EntryKind::Directory) {
        seen.stamp = fs.record_stamp(base_path / relative_path);
      }
      break;
    case Look::Listing:
      seen.names = names_hash(fs.list(base_path, relative_path));
      break;
    case Look::Record:
      seen.stamp = fs.record_stamp(base_path);
      seen.kind = kind_of(seen.stamp);
      break;
    case Look::RecordListing:
      seen.names = names_hash(fs.list_records(base_path));
      break;
  }
  return seen;
}

bool unchanged(const files::FileSystem& fs, const std::vector<Seen>& key) {
  return all_of(key.size(), [&](std::size_t i) {
    return look_again(fs, key[i].look, key[i].base, key[i].relative) == key[i];
  });
}

bool all_of(std::size_t n, const std::function<bool(std::size_t)>& same) {
  std::atomic<bool> all{true};
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < n && all; i = next++) {
      if (!same(i)) all = false;
    }
  };
  {
    std::jthread helper;
    try {
      helper = std::jthread(work);
    } catch (const std::system_error&) {
      // One thread looks as well, only slower.
    }
    work();
  }
  return all;
}

std::optional<std::vector<Seen>> Watch::key(std::int64_t since) const {
  const std::lock_guard lock(mutex_);
  std::vector<Seen> key;
  key.reserve(looked_.size());
  for (const auto& [look, base, relative] : looked_) {
    key.push_back(look_again(inner_, look, base, relative));
    if (key.back().stamp && key.back().stamp->modified >= since) return std::nullopt;
  }
  return key;
}

void Watch::note(Look look, const Path& base, const Path& relative) const {
  auto entry = std::tuple(look, files::path_text(base), files::path_text(relative));
  const std::lock_guard lock(mutex_);
  looked_.insert(std::move(entry));
}

files::EntryKind Watch::kind(const Path& base, const Path& relative) const {
  note(Look::Entry, base, relative);
  return inner_.kind(base, relative);
}

std::optional<files::FileIdentity> Watch::identity(const Path& base, const Path& relative) const {
  note(Look::Entry, base, relative);
  return inner_.identity(base, relative);
}

std::expected<std::unique_ptr<files::ReadFile>, files::Error> Watch::open_read(
    const Path& base, const Path& relative) const {
  note(Look::Entry, base, relative);
  return inner_.open_read(base, relative);
}

std::expected<std::vector<files::DirEntry>, files::Error> Watch::list(const Path& base,
                                                                      const Path& relative) const {
  note(Look::Entry, base, relative);
  note(Look::Listing, base, relative);
  return inner_.list(base, relative);
}

std::expected<std::vector<files::DirEntry>, files::Error> Watch::list_records(
    const Path& dir) const {
  note(Look::Record, dir, {});
  note(Look::RecordListing, dir, {});
  return inner_.list_records(dir);
}

bool Watch::is_record_directory(const Path& path) const {
  note(Look::Record, path, {});
  return inner_.is_record_directory(path);
}

std::expected<std::string, files::Error> Watch::read_record(const Path& path,
                                                            files::Stamp* stamp) const {
  return inner_.read_record(path, stamp);
}

std::optional<files::Stamp> Watch::record_stamp(const Path& path) const {
  return inner_.record_stamp(path);
}

}  // namespace cache
