#pragma once

// The scan of a workspace's journal tree: every record file of root/YYYY/MM,
// parsed with its inventory fields, and the goal and topic lists a run infers
// from the records.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_system.hpp"
#include "journal/entry.hpp"
#include "journal/files.hpp"

namespace journal {

// Adds the goal of the first non-empty "分类：" line (unless the entry already has
// one) and the second path segment of every "相对路径：" line to `entry`.
void add_inventory_fields(JournalEntry& entry, std::string_view file_text);

// What the scan takes from the text of the record file `file_name` dated
// `date`: its record, body cut to its snippet and inventory fields added
// (nothing for a file without a time heading), and whether its goal came from
// the inventory lines.
struct TakenRecord {
  std::optional<JournalEntry> entry;
  bool goal_from_inventory = false;
};
TakenRecord take_record(std::string_view text, std::string_view date, std::string_view file_name);

// The dates whose records the scan could not use: what the workspace already
// knows of those records must not be lost over a file that cannot be read
// for one run.
struct SkippedDates {
  // A record file skipped with its date ("YYYY-MM-DD").
  std::set<std::string, std::less<>> dates;
  // A month directory ("YYYY-MM") or a year directory ("YYYY") that could not
  // be listed.
  std::set<std::string, std::less<>> months;
  std::set<std::string, std::less<>> years;

  // True when a record dated `date` may be among those skipped.
  bool covers(std::string_view date) const;
  bool empty() const { return dates.empty() && months.empty() && years.empty(); }
};

// What earlier runs took from record files, by their path below the root
// ("YYYY/MM/NAME"). While a file's stamp stays the same, a later scan takes
// its record from here instead of reading the file again. Asked from several
// threads at once, each about files of its own.
class KnownRecords {
 public:
  virtual ~KnownRecords() = default;
  // The stamp the file at `path` had; nothing when it is not known.
  virtual std::optional<files::Stamp> stamp(std::string_view path) const = 0;
  enum class Held : std::uint8_t {
    // A file without a time heading, which is no record.
    NoRecord,
    Record,
    // What was kept cannot be used: the file is read instead.
    Unusable,
  };
  // The record the file at `path` held, put into `entry`, and whether its
  // goal came from its inventory lines.
  virtual Held record(std::string_view path, JournalEntry& entry,
                      bool& goal_from_inventory) const = 0;
};

// A record file the scan read or took, to be known to the next run. Held
// through the whole run for a hundred thousand files, so small: its path is
// its month's and its record's file name.
struct RememberedFile {
  files::Stamp stamp;
  // Its month in Scan::month_keys.
  std::uint32_t month = 0;
  // Where its record stands in Scan::records, or, for a file without a time
  // heading, where its name stands in Scan::unrecorded_names.
  std::uint32_t at = 0;
  bool record = false;
  bool goal_from_inventory = false;
  // Changed too recently for its stamp to tell a later change in the same
  // tick of its clock: read again next time whatever its stamp, and held only
  // to be compared with what that reading gives.
  bool racy = false;
};

struct Scan {
  // Records ordered by date, then time (bytes), stable in discovery order,
  // each body cut to its snippet (keep_snippet_only).
  std::vector<JournalEntry> records;
  // Where the scan found them, for the day listings.
  ScannedMonths months;
  SkippedDates skipped;
  // With ScanCache::remember: every file read or taken whole, in walk order,
  // each with its stamp; those changed too recently to be trusted only when
  // there are no more than kMostRacyKept of them.
  std::vector<RememberedFile> remembered;
  std::vector<std::string> month_keys;
  std::vector<std::string> unrecorded_names;
  // How many record files were read rather than taken as known, and how
  // many there were in all.
  std::size_t read_count = 0;
  std::size_t file_count = 0;
};

// How the scan uses what earlier runs saw.
struct ScanCache {
  // Files known from an earlier run; each is taken while its stamp is the
  // same.
  const KnownRecords* known = nullptr;
  // Whether to give the files for the next run (Scan::remembered).
  bool remember = false;
};

// The path below the root ("YYYY/MM/NAME") of a file the scan remembered,
// into `path`: a hundred thousand of them are written one after another.
void remembered_path(const Scan& scan, const RememberedFile& file, std::string& path);

// A file whose modification time is less than this before the moment it was
// read may still change within the same tick of the file system's clock, so
// its stamp is not trusted. Coarser than any clock a disk that keeps times
// uses (FAT's 2 s included).
inline constexpr std::int64_t kRacyNanoseconds = 2'000'000'000;

// The most files changed too recently to be trusted that a scan gives to be
// remembered (flagged, to be read again): with more, it gives none of them.
inline constexpr std::size_t kMostRacyKept = 64;

// Walks root/YYYY/MM/*.md (listings sorted by name) and parses every record,
// reading files on all cores; the records, the warnings and their order are
// those of reading one file after the other. A record file is skipped with a
// warning on `err` when its name holds a control character or does not begin
// with a calendar date, when it is not a regular file, is larger than
// files::kMaxRecordBytes, cannot be read or is not UTF-8; so is a year or
// month directory that cannot be listed. Files without a time heading, and
// names shorter than 10 bytes, are skipped silently. Records named like a sync
// client's conflict copy are read as any other and named in one warning after
// all the others. Fails when the root cannot be listed, with "内存不足"
// when memory runs out, or with an empty text when a signal was noted.
std::expected<Scan, std::string> scan_journal(const std::filesystem::path& root, std::ostream& err,
                                              const files::FileSystem& fs,
                                              const ScanCache& cache = {});

// What a run infers from the sorted records.
struct Inference {
  // Distinct goal texts and topic texts of the records, ascending by bytes.
  std::vector<std::string> goals;
  std::vector<std::string> topics;
  std::size_t with_goal = 0;
  std::size_t with_topic = 0;
};

Inference infer(const std::vector<JournalEntry>& records);

}  // namespace journal
