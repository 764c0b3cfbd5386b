#include "cache/record_cache.hpp"

#include "cache/bytes.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>

#include <fmt/format.h>

#include "files/path_text.hpp"
#include "files/reading.hpp"
#include "journal/files.hpp"
#include "util/content_hash.hpp"
#include "util/text.hpp"

namespace cache {
namespace {

constexpr std::string_view kMagic = "BFWCACHE";
// Raised whenever what is kept, or how, changes: an older cache is then
// simply not used.
constexpr std::uint32_t kFormat = 3;
constexpr std::string_view kProgramVersion = BACKFILL_VERSION;
// The header: the magic, the format, then the size of the first part and a
// checksum of each part. The first part holds the program's version, the key
// and every file's path and stamp: all a run with nothing to do reads. The
// second holds the records, in the first part's order.
constexpr std::size_t kHeaderSize = kMagic.size() + 4 + 8 + 8 + 8;
// A cache larger than this is not a cache this program wrote for any
// workspace it can hold in memory.
constexpr std::uint64_t kMaxCacheBytes = std::uint64_t{4} << 30;

// Set in a file's kind for a file changed too recently for its stamp to be
// trusted.
constexpr std::uint8_t kRacy = 4;

// Device, inode, size, the two times, and whether it is a directory.
constexpr std::size_t kStampSize = 5 * 8 + 1;

void put_stamp(Out& out, const files::Stamp& stamp) {
  out.u64(stamp.device);
  out.u64(stamp.inode);
  out.u64(stamp.size);
  out.i64(stamp.modified);
  out.i64(stamp.changed);
  out.u8(stamp.directory ? 1 : 0);
}

files::Stamp get_stamp(In& in) {
  files::Stamp stamp;
  stamp.device = in.u64();
  stamp.inode = in.u64();
  stamp.size = in.u64();
  stamp.modified = in.i64();
  stamp.changed = in.i64();
  const std::uint8_t directory = in.u8();
  if (directory > 1) in.fail();
  stamp.directory = directory == 1;
  return stamp;
}

void put_entry(Out& out, const journal::JournalEntry& entry) {
  out.text(entry.date);
  out.text(entry.time);
  out.text(entry.title);
  out.text(entry.body);
  out.u32(static_cast<std::uint32_t>(entry.topics.size()));
  for (const auto& topic : entry.topics) out.text(topic);
  out.u8(entry.goal ? 1 : 0);
  if (entry.goal) out.text(*entry.goal);
  for (const auto rating : entry.ratings()) out.u8(rating);
}

// The record's fields as the scan leaves them: a date that is the file
// name's, a time that fits, ratings of 0 to 3. They go into `entry` in place.
bool get_entry(In& in, std::string_view file_name, journal::JournalEntry& entry) {
  const auto date = in.text();
  const auto time = in.text();
  if (!in.ok() || date != file_name.substr(0, 10) || time.size() > 7) return false;
  entry.date = date;
  entry.time = time;
  entry.title = in.text();
  entry.body = in.text();
  const std::uint32_t topics = in.u32();
  // Each topic takes at least its length's four bytes.
  if (topics > in.left() / 4) return false;
  entry.topics.resize(topics);
  for (auto& topic : entry.topics) topic = in.text();
  const std::uint8_t has_goal = in.u8();
  if (has_goal > 1) return false;
  if (has_goal == 1) {
    entry.goal = in.text();
  } else {
    entry.goal.reset();
  }
  for (std::size_t i = 0; i < journal::kRatingCount; ++i) {
    entry.rating(i) = in.u8();
    if (entry.rating(i) > 3) return false;
  }
  entry.file_name = file_name;
  return in.ok();
}

// Steps over a record as put_entry put it, checking only that its fields'
// bytes are there.
bool skip_entry(In& in) {
  for (int field = 0; field < 4; ++field) (void)in.bytes();
  const std::uint32_t topics = in.u32();
  if (topics > in.left() / 4) return false;
  for (std::uint32_t i = 0; i < topics; ++i) (void)in.bytes();
  if (in.u8() == 1) (void)in.bytes();
  in.skip(journal::kRatingCount);
  return in.ok();
}

void put_key(Out& out, const RunKey& key) {
  out.text(key.options);
  out.u64(key.transcript.size());
  for (const auto& [to_err, text] : key.transcript) {
    out.u8(to_err ? 1 : 0);
    out.text(text);
  }
  out.u64(key.seen.size());
  for (const auto& seen : key.seen) {
    out.u8(static_cast<std::uint8_t>(seen.look));
    out.text(seen.base);
    out.text(seen.relative);
    out.u8(static_cast<std::uint8_t>(seen.kind));
    out.u8(seen.stamp ? 1 : 0);
    if (seen.stamp) put_stamp(out, *seen.stamp);
  }
}

std::optional<RunKey> get_key(In& in) {
  RunKey key;
  key.options = in.bytes();
  const std::uint64_t lines = in.u64();
  // Each piece takes at least five bytes, each path at least 11.
  if (!in.ok() || lines > in.left() / 5) return std::nullopt;
  for (std::uint64_t i = 0; i < lines; ++i) {
    const std::uint8_t to_err = in.u8();
    if (to_err > 1) return std::nullopt;
    key.transcript.emplace_back(to_err == 1, in.text());
  }
  const std::uint64_t count = in.u64();
  if (!in.ok() || count > in.left() / 11) return std::nullopt;
  for (std::uint64_t i = 0; i < count; ++i) {
    Seen seen;
    const std::uint8_t look = in.u8();
    seen.base = in.bytes();
    seen.relative = in.bytes();
    const std::uint8_t kind = in.u8();
    const std::uint8_t has_stamp = in.u8();
    if (look > static_cast<std::uint8_t>(Look::Record) ||
        kind > static_cast<std::uint8_t>(files::EntryKind::Other) || has_stamp > 1) {
      return std::nullopt;
    }
    seen.look = static_cast<Look>(look);
    seen.kind = static_cast<files::EntryKind>(kind);
    if (has_stamp == 1) seen.stamp = get_stamp(in);
    key.seen.push_back(std::move(seen));
  }
  if (!in.ok()) return std::nullopt;
  return key;
}

// "YYYY/MM/NAME", with a name of at least a date and ".md".
bool is_record_path(std::string_view path) {
  return path.size() >= 18 && text::all_ascii_digits(path.substr(0, 4)) && path[4] == '/' &&
         text::all_ascii_digits(path.substr(5, 2)) && path[7] == '/' &&
         path.substr(8).find('/') == std::string_view::npos &&
         journal::parse_calendar_date(path.substr(8, 10)).has_value();
}

// A directory the environment names, when it is absolute: a relative one
// would move with the working directory.
#if defined(_WIN32)
std::optional<std::filesystem::path> from_environment(const wchar_t* name) {
  const wchar_t* value = _wgetenv(name);
  if (value == nullptr || *value == L'\0') return std::nullopt;
  std::filesystem::path path(value);
#else
std::optional<std::filesystem::path> from_environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::filesystem::path path = files::utf8_path(value);
#endif
  if (!path.is_absolute()) return std::nullopt;
  return path;
}

}  // namespace

std::optional<std::filesystem::path> default_directory() {
#if defined(_WIN32)
  const auto base = from_environment(L"LOCALAPPDATA");
  if (!base) return std::nullopt;
  return *base / "backfill-workspace";
#else
  if (const auto xdg = from_environment("XDG_CACHE_HOME")) return *xdg / "backfill-workspace";
  const auto home = from_environment("HOME");
  if (!home) return std::nullopt;
  return *home / ".cache" / "backfill-workspace";
#endif
}

std::string file_name(const std::filesystem::path& root, const files::Stamp& root_stamp) {
  hashing::ContentHash hash;
  {
    Out key([&](std::string_view bytes) { hash.add(bytes); });
    key.text(files::generic_path_text(root));
    key.u64(root_stamp.device);
    key.u64(root_stamp.inode);
  }
  // The last name of the root tells a person which workspace a file is for.
  std::string shown;
  for (const char c : files::path_text(root.filename())) {
    if (shown.size() < 32 &&
        (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_')) {
      shown.push_back(c);
    }
  }
  return fmt::format("{}{}{:016x}.cache", shown, shown.empty() ? "" : "-", hash.digest());
}

void write(const journal::Scan& scan, const RunKey* key,
           const std::function<void(std::string_view)>& put) {
  // Each part is made twice: once for its size and checksum, which the
  // header holds, once to be written after it.
  const auto stamps = [&](const Out::Put& to) {
    Out out(to);
    out.text(kProgramVersion);
    out.u8(key != nullptr ? 1 : 0);
    if (key != nullptr) put_key(out, *key);
    out.u64(scan.remembered.size());
    std::string path;
    for (const auto& file : scan.remembered) {
      journal::remembered_path(scan, file, path);
      out.text(path);
      put_stamp(out, file.stamp);
      out.u8(static_cast<std::uint8_t>((file.record ? (file.goal_from_inventory ? 2 : 1) : 0) |
                                       (file.racy ? kRacy : 0)));
    }
  };
  const auto records = [&](const Out::Put& to) {
    Out out(to);
    for (const auto& file : scan.remembered) {
      if (file.record) put_entry(out, scan.records[file.at]);
    }
  };
  std::uint64_t stamps_size = 0;
  hashing::ContentHash stamps_sum;
  stamps([&](std::string_view bytes) {
    stamps_size += bytes.size();
    stamps_sum.add(bytes);
  });
  hashing::ContentHash records_sum;
  records([&](std::string_view bytes) { records_sum.add(bytes); });
  {
    Out header(put);
    header.raw(kMagic);
    header.u32(kFormat);
    header.u64(stamps_size);
    header.u64(stamps_sum.digest());
    header.u64(records_sum.digest());
  }
  stamps(put);
  records(put);
}

std::string encode(const journal::Scan& scan, const RunKey* key) {
  std::string bytes;
  write(scan, key, [&](std::string_view piece) { bytes.append(piece); });
  return bytes;
}

namespace {

struct Header {
  std::uint64_t stamps_size = 0;
  std::uint64_t stamps_sum = 0;
  std::uint64_t records_sum = 0;
};

std::optional<Header> get_header(std::string_view bytes) {
  if (bytes.size() < kHeaderSize || !bytes.starts_with(kMagic)) return std::nullopt;
  In in(bytes.substr(kMagic.size()));
  if (in.u32() != kFormat) return std::nullopt;
  Header header;
  header.stamps_size = in.u64();
  header.stamps_sum = in.u64();
  header.records_sum = in.u64();
  if (header.stamps_size > kMaxCacheBytes) return std::nullopt;
  return header;
}

}  // namespace

std::optional<Contents> decode(std::string owned, bool with_records) {
  Contents contents;
  contents.bytes_ = std::make_shared<const std::string>(std::move(owned));
  const std::string_view bytes = *contents.bytes_;
  const auto header = get_header(bytes);
  if (!header || bytes.size() - kHeaderSize < header->stamps_size) return std::nullopt;
  const auto stamps = bytes.substr(kHeaderSize, static_cast<std::size_t>(header->stamps_size));
  const auto records = bytes.substr(kHeaderSize + stamps.size());
  if (hashing::content_hash(stamps) != header->stamps_sum) return std::nullopt;
  if (with_records && hashing::content_hash(records) != header->records_sum) return std::nullopt;
  if (!with_records && !records.empty()) return std::nullopt;
  In in(stamps);
  if (in.text() != kProgramVersion || !in.ok()) return std::nullopt;
  const std::uint8_t has_key = in.u8();
  if (has_key > 1) return std::nullopt;
  if (has_key == 1) {
    contents.key = get_key(in);
    if (!contents.key) return std::nullopt;
  }
  const std::uint64_t count = in.u64();
  // Each file takes at least its path's and its stamp's bytes.
  if (!in.ok() || count > in.left() / 60) return std::nullopt;
  contents.files_ = kHeaderSize + in.at();
  contents.count_ = static_cast<std::size_t>(count);
  if (!with_records) {
    // Only the files' bounds, and where each directory's files begin: a run
    // with nothing to do checks the rest as it looks at them, directory by
    // directory on two threads.
    std::string_view month;
    for (std::uint64_t i = 0; i < count && in.ok(); ++i) {
      const std::size_t at = in.at();
      const auto path = in.bytes();
      in.skip(kStampSize + 1);
      if (contents.runs_.empty() || path.substr(0, 7) != month) {
        month = path.substr(0, 7);
        contents.runs_.push_back({kHeaderSize + at, 0});
      }
      ++contents.runs_.back().count;
    }
    if (!in.ok() || !in.at_end()) return std::nullopt;
    return contents;
  }
  In entries(records);
  contents.index_.reserve(static_cast<std::size_t>(count));
  for (std::uint64_t i = 0; i < count; ++i) {
    const auto path = in.text();
    Contents::Slot slot;
    slot.stamp = get_stamp(in);
    const std::uint8_t byte = in.u8();
    const std::uint8_t kind = byte & ~kRacy;
    if (!in.ok() || kind > 2 || !is_record_path(path) || slot.stamp.directory) {
      return std::nullopt;
    }
    slot.kind = kind;
    slot.racy = (byte & kRacy) != 0;
    slot.at = kHeaderSize + stamps.size() + entries.at();
    // Only stepped over: each record is decoded, and checked, when the scan
    // takes it, and one that does not decode is read from its file.
    if (kind > 0 && !skip_entry(entries)) return std::nullopt;
    contents.index_.emplace_back(path, slot);
  }
  if (!in.ok() || !in.at_end() || !entries.ok() || !entries.at_end()) return std::nullopt;
  // Written in the scan's order, sorted by path; sorted here all the same
  // should another order ever come in, and refused with a path twice.
  auto& index = contents.index_;
  if (!std::ranges::is_sorted(index, {}, &Contents::Entry::first)) {
    std::ranges::sort(index, {}, &Contents::Entry::first);
  }
  if (std::ranges::adjacent_find(index, {}, &Contents::Entry::first) != index.end()) {
    return std::nullopt;
  }
  return contents;
}

const Contents::Entry* Contents::find(std::string_view path) const {
  const auto found = std::ranges::lower_bound(index_, path, {}, &Entry::first);
  return found != index_.end() && found->first == path ? &*found : nullptr;
}

std::optional<files::Stamp> Contents::stamp(std::string_view path) const {
  const auto found = find(path);
  // A stamp that cannot be trusted is none.
  if (found == nullptr || found->second.racy) return std::nullopt;
  return found->second.stamp;
}

journal::KnownRecords::Held Contents::record(std::string_view path, journal::JournalEntry& entry,
                                             bool& goal_from_inventory) const {
  const auto found = find(path);
  if (found == nullptr) return Held::Unusable;
  if (found->second.kind == 0) return Held::NoRecord;
  In in(std::string_view(*bytes_).substr(found->second.at));
  if (!get_entry(in, path.substr(8), entry)) return Held::Unusable;
  goal_from_inventory = found->second.kind == 2;
  return Held::Record;
}

void Contents::each(const std::function<void(std::string_view path, const files::Stamp& stamp,
                                             bool racy)>& visit) const {
  In in(std::string_view(*bytes_).substr(files_));
  for (std::size_t i = 0; i < count_; ++i) {
    const auto path = in.text();
    const auto stamp = get_stamp(in);
    visit(path, stamp, (in.u8() & kRacy) != 0);
  }
}

Verdict nothing_changed(const files::FileSystem& fs, const std::filesystem::path& root,
                        const Contents& contents) {
  if (!contents.key) return {};
  const std::string_view bytes = *contents.bytes_;
  const auto& runs = contents.runs_;
  // The files to read, by directory: the directories are looked into on two
  // threads.
  std::vector<std::vector<std::string_view>> to_read(runs.size());
  std::vector<std::string_view> months(runs.size());
  std::atomic<std::size_t> reads = 0;
  // Each directory is looked into once for all its files; the key's paths
  // are one more job, the first, beside them.
  const bool same = all_of(runs.size() + 1, [&](std::size_t job) {
    if (job == 0) return unchanged(fs, contents.key->seen);
    const std::size_t r = job - 1;
    In in(bytes.substr(runs[r].at));
    std::vector<std::string_view> names(runs[r].count);
    std::vector<files::Stamp> stamps(runs[r].count);
    std::vector<bool> racy(runs[r].count);
    std::string_view month;
    for (std::size_t i = 0; i < runs[r].count; ++i) {
      const auto path = in.text();
      stamps[i] = get_stamp(in);
      racy[i] = (in.u8() & kRacy) != 0;
      if (!in.ok() || !is_record_path(path) || (i > 0 && path.substr(0, 7) != month)) {
        return false;
      }
      month = path.substr(0, 7);
      names[i] = path.substr(8);
    }
    months[r] = month;
    const auto found = fs.record_stamps(root / files::utf8_path(month), names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (found[i] == stamps[i] && !racy[i]) continue;
      // A file that is gone or no longer a file gives no record to compare.
      if (!found[i] || found[i]->directory || ++reads > kMostToRead) return false;
      to_read[r].push_back(names[i]);
    }
    return true;
  });
  if (!same) return {};
  Verdict verdict{true, {}};
  for (std::size_t r = 0; r < runs.size(); ++r) {
    for (const auto name : to_read[r]) {
      verdict.to_read.push_back(fmt::format("{}/{}", months[r], name));
    }
  }
  return verdict;
}

bool reads_the_same(const files::FileSystem& fs, const std::filesystem::path& root,
                    const Contents& contents, const std::vector<std::string>& paths) {
  for (const auto& path : paths) {
    const auto content = fs.read_record(root / files::utf8_path(path), nullptr);
    if (!content) return false;
    const auto name = std::string_view(path).substr(8);
    const auto taken = journal::take_record(*content, name.substr(0, 10), name);
    journal::JournalEntry held;
    bool goal_from_inventory = false;
    switch (contents.record(path, held, goal_from_inventory)) {
      case journal::KnownRecords::Held::NoRecord:
        if (taken.entry) return false;
        break;
      case journal::KnownRecords::Held::Record:
        if (!taken.entry || *taken.entry != held ||
            taken.goal_from_inventory != goal_from_inventory) {
          return false;
        }
        break;
      case journal::KnownRecords::Held::Unusable:
        return false;
    }
  }
  return true;
}

std::optional<CacheFile> CacheFile::of(const files::FileSystem& fs,
                                       const std::filesystem::path& root,
                                       const std::filesystem::path& dir) {
  if (!fs.keeps_times(root)) return std::nullopt;
  const auto canonical = fs.canonical(root);
  const auto stamp = fs.record_stamp(canonical);
  if (!stamp || !stamp->directory) return std::nullopt;
  return CacheFile(fs, dir, file_name(canonical, *stamp));
}

std::optional<Contents> CacheFile::load(bool with_records) const {
  auto file = fs_.open_read(dir_, files::utf8_path(name_));
  if (!file) return std::nullopt;
  if (with_records) {
    auto bytes = files::read_all(**file, kMaxCacheBytes);
    if (!bytes) return std::nullopt;
    return decode(std::move(*bytes), true);
  }
  // The header, then the first part only: a run with nothing to do needs no
  // record.
  std::string bytes;
  const auto read_up_to = [&](std::size_t size) {
    bool whole = true;
    const std::size_t had = bytes.size();
    bytes.resize_and_overwrite(size, [&](char* data, std::size_t) {
      std::size_t used = had;
      while (used < size) {
        const auto got = (*file)->read(std::span(data + used, size - used));
        if (!got || *got == 0) break;
        used += *got;
      }
      whole = used == size;
      return used;
    });
    return whole;
  };
  if (!read_up_to(kHeaderSize)) return std::nullopt;
  const auto header = get_header(bytes);
  if (!header) return std::nullopt;
  // Without a key the first part is of no use: the caller loads it again
  // with the records.
  const std::size_t head = 4 + kProgramVersion.size() + 1;
  if (header->stamps_size < head || !read_up_to(kHeaderSize + head)) return std::nullopt;
  In in(std::string_view(bytes).substr(kHeaderSize));
  if (in.text() != kProgramVersion || in.u8() != 1) return std::nullopt;
  if (!read_up_to(kHeaderSize + static_cast<std::size_t>(header->stamps_size))) {
    return std::nullopt;
  }
  return decode(std::move(bytes), false);
}

std::optional<std::string> CacheFile::load_graph(std::size_t up_to) const {
  auto file = fs_.open_read(dir_, files::utf8_path(graph_name()));
  if (!file) return std::nullopt;
  if (up_to == SIZE_MAX) {
    auto bytes = files::read_all(**file, kMaxCacheBytes);
    if (!bytes) return std::nullopt;
    return std::move(*bytes);
  }
  std::string head(up_to, '\0');
  std::size_t used = 0;
  while (used < up_to) {
    const auto got = (*file)->read(std::span(head.data() + used, up_to - used));
    if (!got || *got == 0) break;
    used += *got;
  }
  head.resize(used);
  return head;
}

bool CacheFile::save_as(const std::string& name, const files::Producer& produce) const {
  const auto target = files::utf8_path(name);
  const auto temporary = files::utf8_path(name + ".tmp");
  if (!fs_.create_directories(dir_, {})) return false;
  // Left by a run that was killed while it saved.
  if (fs_.kind(dir_, temporary) != files::EntryKind::Missing && !fs_.remove(dir_, temporary)) {
    return false;
  }
  const auto made = fs_.create_file(dir_, temporary, produce);
  if (!made || !fs_.rename(dir_, temporary, target, false)) {
    (void)fs_.remove(dir_, temporary);
    return false;
  }
  return true;
}

}  // namespace cache
