#pragma once

// What a run depended on, to tell the next run that nothing changed. The run
// goes through a file system that notes every path it looks at, lists or
// finds missing (never what it writes: its writes are seen by the looks that
// come before them), record files aside, whose stamps the record cache
// keeps. After the commit each path is looked at once more; when
// the next run finds every one as it was, it would read, compute and write
// exactly what this run did.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "files/file_system.hpp"

namespace cache {

// How a path was looked at, and so how it is looked at again. A listing is
// not looked at again name by name: adding, removing or renaming a name moves
// the directory's own times on, and the directory's stamp is in the key.
enum class Look : std::uint8_t {
  // Below a base, through no link: what stands there.
  Entry,
  // A record directory, links followed: its stamp. Record files are not
  // noted: the record cache holds their stamps.
  Record,
};

// What a look found.
struct Seen {
  Look look = Look::Entry;
  std::string base;
  std::string relative;
  files::EntryKind kind = files::EntryKind::Missing;
  std::optional<files::Stamp> stamp;
  bool operator==(const Seen&) const = default;
};

// Looks at each of `looks` (look, base, relative) again as it was looked at,
// a directory at a time.
std::vector<Seen> look_again(const files::FileSystem& fs,
                             const std::vector<std::tuple<Look, std::string, std::string>>& looks);

// True when `same(i)` holds for every i below `n`. Asked on two threads, and
// no more once one answer is false: a workspace's records are a stat each,
// and two threads halve the wait on a cold disk.
bool all_of(std::size_t n, const std::function<bool(std::size_t)>& same);

// True when every path of `key` still shows what it showed.
bool unchanged(const files::FileSystem& fs, const std::vector<Seen>& key);

class Watch final : public files::FileSystem {
 public:
  using Path = std::filesystem::path;
  explicit Watch(const files::FileSystem& inner) : inner_(inner) {}

  // Every path looked at, looked at again now; nothing when any of them was
  // modified at or after `since` (nanoseconds since 1970): a change made
  // while the run read it, or within the same tick of the file system's
  // clock, could leave it looking as it does now.
  std::optional<std::vector<Seen>> key(std::int64_t since) const;

  files::EntryKind kind(const Path& base, const Path& relative) const override;
  std::optional<files::FileIdentity> identity(const Path& base,
                                              const Path& relative) const override;
  std::expected<std::unique_ptr<files::ReadFile>, files::Error> open_read(
      const Path& base, const Path& relative) const override;
  std::expected<std::vector<files::DirEntry>, files::Error> list(
      const Path& base, const Path& relative) const override;
  std::expected<void, files::Error> create_directories(const Path& base,
                                                       const Path& relative) const override {
    return inner_.create_directories(base, relative);
  }
  std::expected<void, files::Error> create_file(const Path& base, const Path& relative,
                                                const files::Producer& produce) const override {
    return inner_.create_file(base, relative, produce);
  }
  std::expected<void, files::Error> remove(const Path& base, const Path& relative) const override {
    return inner_.remove(base, relative);
  }
  std::expected<void, files::Error> rename(const Path& base, const Path& from, const Path& to,
                                           bool keep_existing) const override {
    return inner_.rename(base, from, to, keep_existing);
  }
  std::expected<void, files::Error> sync_file_system(const Path& base) const override {
    return inner_.sync_file_system(base);
  }
  std::expected<void, files::Error> check_replaceable(const Path& base,
                                                      const Path& relative) const override {
    return inner_.check_replaceable(base, relative);
  }
  std::expected<void, files::Error> sync_file(const Path& base,
                                              const Path& relative) const override {
    return inner_.sync_file(base, relative);
  }
  std::expected<void, files::Error> sync_directory(const Path& base,
                                                   const Path& relative) const override {
    return inner_.sync_directory(base, relative);
  }
  std::expected<std::unique_ptr<files::Lock>, files::Error> lock_directory(
      const Path& base, const Path& relative) const override {
    return inner_.lock_directory(base, relative);
  }
  std::optional<std::uint64_t> device(const Path& base) const override {
    return inner_.device(base);
  }
  std::expected<std::vector<files::DirEntry>, files::Error> list_records(
      const Path& dir) const override;
  std::expected<std::vector<std::string>, files::Error> list_record_names(
      const Path& dir) const override;
  bool is_record_directory(const Path& path) const override;
  std::expected<std::string, files::Error> read_record(const Path& path,
                                                       files::Stamp* stamp) const override;
  std::optional<files::Stamp> record_stamp(const Path& path) const override;
  std::vector<std::optional<files::Stamp>> record_stamps(
      const Path& dir, std::span<const std::string_view> names) const override {
    return inner_.record_stamps(dir, names);
  }
  std::vector<std::pair<files::EntryKind, std::optional<files::Stamp>>> entry_stamps(
      const Path& base, const Path& dir, std::span<const std::string_view> names) const override;
  bool keeps_times(const Path& dir) const override { return inner_.keeps_times(dir); }
  Path canonical(const Path& path) const override { return inner_.canonical(path); }

 private:
  void note(Look look, const Path& base, const Path& relative) const;

  const files::FileSystem& inner_;
  mutable std::mutex mutex_;
  mutable std::set<std::tuple<Look, std::string, std::string>> looked_;
};

}  // namespace cache
