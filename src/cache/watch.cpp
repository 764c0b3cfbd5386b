#include "cache/watch.hpp"

#include <atomic>
#include <map>
#include <thread>

#include "files/path_text.hpp"

namespace cache {

std::vector<Seen> look_again(const files::FileSystem& fs,
                             const std::vector<std::tuple<Look, std::string, std::string>>& looks) {
  std::vector<Seen> seen(looks.size());
  // Entries of one directory, asked together: a walk down to the directory
  // for each would cost more than the looks.
  std::map<std::pair<std::string_view, std::string_view>, std::vector<std::size_t>> by_directory;
  for (std::size_t i = 0; i < looks.size(); ++i) {
    const auto& [look, base, relative] = looks[i];
    seen[i].look = look;
    seen[i].base = base;
    seen[i].relative = relative;
    if (look == Look::Record) {
      seen[i].stamp = fs.record_stamp(files::utf8_path(base));
      seen[i].kind = !seen[i].stamp             ? files::EntryKind::Missing
                     : seen[i].stamp->directory ? files::EntryKind::Directory
                                                : files::EntryKind::Regular;
      continue;
    }
    const std::string_view path = seen[i].relative;
    const auto slash = path.rfind('/');
    const auto dir = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    by_directory[{seen[i].base, dir}].push_back(i);
  }
  std::vector<std::string_view> names;
  for (const auto& [where, at] : by_directory) {
    names.clear();
    for (const std::size_t i : at) {
      const std::string_view path = seen[i].relative;
      const auto slash = path.rfind('/');
      names.push_back(slash == std::string_view::npos ? path : path.substr(slash + 1));
    }
    const auto found =
        fs.entry_stamps(files::utf8_path(where.first), files::utf8_path(where.second), names);
    for (std::size_t k = 0; k < at.size(); ++k) {
      seen[at[k]].kind = found[k].first;
      seen[at[k]].stamp = found[k].second;
    }
  }
  return seen;
}

bool unchanged(const files::FileSystem& fs, const std::vector<Seen>& key) {
  std::vector<std::tuple<Look, std::string, std::string>> looks;
  looks.reserve(key.size());
  for (const auto& seen : key) looks.emplace_back(seen.look, seen.base, seen.relative);
  return look_again(fs, looks) == key;
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
  auto key = look_again(inner_, {looked_.begin(), looked_.end()});
  for (const auto& seen : key) {
    if (seen.stamp && seen.stamp->modified >= since) return std::nullopt;
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
  return inner_.list(base, relative);
}

std::expected<std::vector<files::DirEntry>, files::Error> Watch::list_records(
    const Path& dir) const {
  note(Look::Record, dir, {});
  return inner_.list_records(dir);
}

std::expected<std::vector<std::string>, files::Error> Watch::list_record_names(
    const Path& dir) const {
  note(Look::Record, dir, {});
  return inner_.list_record_names(dir);
}

bool Watch::is_record_directory(const Path& path) const {
  note(Look::Record, path, {});
  return inner_.is_record_directory(path);
}

std::expected<std::string, files::Error> Watch::read_record(const Path& path,
                                                            files::Stamp* stamp) const {
  return inner_.read_record(path, stamp);
}

std::vector<std::pair<files::EntryKind, std::optional<files::Stamp>>> Watch::entry_stamps(
    const Path& base, const Path& dir, std::span<const std::string_view> names) const {
  for (const auto name : names) note(Look::Entry, base, dir / files::utf8_path(name));
  return inner_.entry_stamps(base, dir, names);
}

std::optional<files::Stamp> Watch::record_stamp(const Path& path) const {
  return inner_.record_stamp(path);
}

}  // namespace cache
