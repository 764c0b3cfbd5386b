#pragma once

// The record cache: what a run took from each record file, kept outside the
// workspace so that the next run reads only the files that changed. It holds
// nothing of the user's that the workspace does not: whatever is wrong with
// it (missing, cut short, of another version, damaged) only makes the next
// run read every file, without a word.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cache/watch.hpp"
#include "files/file_system.hpp"
#include "files/path_text.hpp"
#include "journal/scan.hpp"

namespace cache {

// The directory caches go into when the environment names none of its own:
// $XDG_CACHE_HOME/backfill-workspace, else ~/.cache/backfill-workspace
// (%LOCALAPPDATA%\backfill-workspace on Windows); nothing when the
// environment gives no home.
std::optional<std::filesystem::path> default_directory();

// The cache file of the workspace whose canonical root is `root` with the
// stamp `root_stamp`: a workspace moved or made anew at the same path gets a
// cache of its own.
std::string file_name(const std::filesystem::path& root, const files::Stamp& root_stamp);

// What a run that wrote nothing depended on and printed: the next run with
// the same options that finds every path as it was prints the same and does
// nothing else.
struct RunKey {
  // The options that shape the run's files and words.
  std::string options;
  // What the run printed after its first line, in order: true for standard
  // error.
  std::vector<std::pair<bool, std::string>> transcript;
  std::vector<Seen> seen;
  bool operator==(const RunKey&) const = default;
};

// A cache as loaded, with its records or without (all a run with nothing to
// do needs). The records stay in the cache's bytes until the scan takes
// them, each straight into its place: a hundred thousand records decoded
// ahead would stand in memory beside the scan's own.
class Contents final : public journal::KnownRecords {
 public:
  std::optional<files::Stamp> stamp(std::string_view path) const override;
  Held record(std::string_view path, journal::JournalEntry& entry,
              bool& goal_from_inventory) const override;

  // Every record file known, with its stamp and whether the stamp was to be
  // trusted, in the order they were written.
  void each(const std::function<void(std::string_view path, const files::Stamp& stamp, bool racy)>&
                visit) const;
  std::size_t size() const { return count_; }

  std::optional<RunKey> key;

 private:
  friend std::optional<Contents> decode(std::string bytes, bool with_records);
  struct Slot {
    files::Stamp stamp;
    // 0: no record; 1: a record; 2: a record whose goal came from its
    // inventory lines.
    std::uint8_t kind = 0;
    bool racy = false;
    // Where the record begins in the bytes.
    std::size_t at = 0;
  };
  std::shared_ptr<const std::string> bytes_;
  // Where the files' paths and stamps begin in the bytes, and how many.
  std::size_t files_ = 0;
  std::size_t count_ = 0;
  // Without the records: where each directory's files begin, and how many.
  struct Run {
    std::size_t at = 0;
    std::size_t count = 0;
  };
  std::vector<Run> runs_;
  friend struct Verdict nothing_changed(const files::FileSystem& fs,
                                        const std::filesystem::path& root,
                                        const Contents& contents);
  // Filled only with the records.
  using Entry = std::pair<std::string_view, Slot>;
  // By path, searched by halves: a hundred thousand entries of a hash map
  // cost more to build than the lookups save.
  std::vector<Entry> index_;
  const Entry* find(std::string_view path) const;
};

// The bytes of the cache of what `scan` remembered, with `key` when the run
// has one, piece by piece to `put`; encode gives them whole.
void write(const journal::Scan& scan, const RunKey* key,
           const std::function<void(std::string_view)>& put);
std::string encode(const journal::Scan& scan, const RunKey* key = nullptr);

// What `bytes` hold; nothing unless they are a whole cache of this format and
// this program's version, every field in range. Without the records, the
// bytes end where the records would begin.
std::optional<Contents> decode(std::string bytes, bool with_records = true);

// What a cache with a key, loaded without its records, tells of the
// workspace below `root` now.
struct Verdict {
  // Every path of the key is as it was, and so is every record file the
  // cache knows but those of `to_read`.
  bool same = false;
  // Record files (paths below the root) whose stamps moved or were not to be
  // trusted: nothing changed only if each still gives the record the cache
  // holds for it. At most kMostToRead.
  std::vector<std::string> to_read;
};
inline constexpr std::size_t kMostToRead = journal::kMostRacyKept;
Verdict nothing_changed(const files::FileSystem& fs, const std::filesystem::path& root,
                        const Contents& contents);

// True when every file of `paths`, read now below `root`, gives what
// `contents` (loaded with its records) holds for it: no record, or the same
// record.
bool reads_the_same(const files::FileSystem& fs, const std::filesystem::path& root,
                    const Contents& contents, const std::vector<std::string>& paths);

// A workspace's cache file in the directory `dir` on `fs`.
class CacheFile {
 public:
  CacheFile(const files::FileSystem& fs, std::filesystem::path dir, std::string name)
      : fs_(fs), dir_(std::move(dir)), name_(std::move(name)) {}

  // The cache of the workspace at `root`, in `dir`; nothing where times
  // cannot be trusted, or the root has no stamp.
  static std::optional<CacheFile> of(const files::FileSystem& fs, const std::filesystem::path& root,
                                     const std::filesystem::path& dir);

  // Whether a regular file stands at the cache's name.
  bool present() const {
    return fs_.kind(dir_, files::utf8_path(name_)) == files::EntryKind::Regular;
  }
  // What the cache knows, with its records or only the key and the stamps;
  // nothing when it is missing or unusable, and, without the records, when
  // it holds no key.
  std::optional<Contents> load(bool with_records = true) const;
  // Replaces the cache with what `produce` makes, in one rename; false when
  // it could not.
  bool save(const files::Producer& produce) const { return save_as(name_, produce); }

  // The graph kept beside the cache (cache/graph_cache.hpp), whole; nothing
  // when there is none that can be read.
  std::optional<std::string> load_graph(std::size_t up_to = SIZE_MAX) const;
  bool save_graph(const files::Producer& produce) const { return save_as(graph_name(), produce); }

 private:
  std::string graph_name() const { return name_ + ".graph"; }
  bool save_as(const std::string& name, const files::Producer& produce) const;

  const files::FileSystem& fs_;
  std::filesystem::path dir_;
  std::string name_;
};

}  // namespace cache
