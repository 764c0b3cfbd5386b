#include "journal/scan.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unordered_set>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "files/file_system.hpp"
#include "files/path_text.hpp"
#include "util/interrupt.hpp"
#include "util/memory.hpp"
#include "util/progress.hpp"
#include "util/text.hpp"

namespace journal {
namespace {

// A shorter name (`todo.md`) holds no date and is nobody's record, so it is
// passed over without a word. Any longer one is meant as a record: one whose
// date is cut inside a character, such as one written in full-width digits,
// gets the misnamed file's warning instead of vanishing unexplained.
bool is_record_file_name(std::string_view name) {
  return name.ends_with(".md") && name.size() >= 10;
}

// The name `name` had before a sync client numbered it as a copy
// ("X (1).md" for "X.md"), when it ends like one.
std::optional<std::string> without_copy_number(std::string_view name) {
  if (!name.ends_with(").md")) return std::nullopt;
  const auto stem = name.substr(0, name.size() - 4);
  const auto open = stem.rfind(" (");
  if (open == std::string_view::npos) return std::nullopt;
  const auto number = stem.substr(open + 2);
  if (number.empty() || !text::all_ascii_digits(number)) return std::nullopt;
  return std::string(stem.substr(0, open)) + ".md";
}

std::vector<std::string_view> split_path_segments(std::string_view rest) {
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  for (;;) {
    const std::size_t cut = rest.find_first_of("\\/", start);
    if (cut == std::string_view::npos) {
      segments.push_back(rest.substr(start));
      return segments;
    }
    segments.push_back(rest.substr(start, cut - start));
    start = cut + 1;
  }
}

// The entries of a year or month directory. One that cannot be listed is
// skipped, with a warning when it is a directory: its records would otherwise
// vanish from every derived file without a trace. Its dates (`key`, "YYYY" or
// "YYYY-MM") then go into `skipped`.
// A month's files are listed by name alone: a path each would cost more than
// the look at the directory.
template <typename Listed>
std::optional<Listed> list_level(const files::FileSystem& fs, const files::DirEntry& dir,
                                 std::string_view shown, std::string key,
                                 std::set<std::string, std::less<>>& skipped,
                                 std::vector<std::string>& warnings) {
  auto listed = [&] {
    if constexpr (std::is_same_v<Listed, std::vector<std::string>>) {
      return fs.list_record_names(dir.path);
    } else {
      return fs.list_records(dir.path);
    }
  }();
  if (listed) return std::move(*listed);
  if (fs.is_record_directory(dir.path)) {
    warnings.push_back(
        fmt::format("[warn] 跳过无法读取的目录: {}: {}\n", shown, listed.error().text));
    skipped.insert(std::move(key));
  }
  return std::nullopt;
}

// One record file to read, in walk order. Its paths are made when it is read:
// a path object per file would cost more than the record it names.
struct FileJob {
  std::string name;
  std::uint32_t month = 0;
  // The walk's warnings printed before this file's.
  std::vector<std::string> warnings_before;
};

// The year and month levels of the tree: the month directories and the files
// in them, in walk order.
struct Walk {
  // Each month as listed, joined from the root as given, and shown so in
  // warnings.
  std::vector<std::filesystem::path> month_paths;
  std::vector<std::filesystem::path> months;
  std::vector<std::string> months_shown;
  // Each month below the root, "YYYY/MM": the key of its files among the
  // known ones.
  std::vector<std::string> month_keys;
  std::vector<FileJob> files;
  std::vector<std::string> trailing_warnings;
  SkippedDates skipped;
};

std::expected<Walk, std::string> walk_tree(const files::FileSystem& fs,
                                           const std::filesystem::path& root) {
  auto years = fs.list_records(root);
  if (!years) return std::unexpected("读取工作区根失败: " + years.error().text);
  Walk walk;
  std::vector<std::string> pending;
  for (const auto& year : *years) {
    if (year.name.size() != 4 || !text::all_ascii_digits(year.name)) continue;
    const auto year_path = files::utf8_path(year.name);
    const auto months = list_level<std::vector<files::DirEntry>>(
        fs, year, files::shown_path(root, year_path), year.name, walk.skipped.years, pending);
    if (!months) continue;
    for (const auto& month : *months) {
      if (month.name.size() != 2 || !text::all_ascii_digits(month.name)) continue;
      const auto relative = year_path / files::utf8_path(month.name);
      auto shown = files::shown_path(root, relative);
      auto files = list_level<std::vector<std::string>>(
          fs, month, shown, year.name + "-" + month.name, walk.skipped.months, pending);
      if (!files) continue;
      walk.months.push_back(root / relative);
      walk.months_shown.push_back(std::move(shown));
      walk.month_keys.push_back(year.name + "/" + month.name);
      walk.month_paths.push_back(month.path);
      const auto at = static_cast<std::uint32_t>(walk.months.size() - 1);
      for (auto& file : *files) {
        if (!is_record_file_name(file)) continue;
        walk.files.push_back({std::move(file), at, std::move(pending)});
        pending.clear();
      }
    }
  }
  walk.trailing_warnings = std::move(pending);
  return walk;
}

// The file of `job` as warnings show it.
std::string shown_file(const Walk& walk, const FileJob& job) {
  return walk.months_shown[job.month] + "/" + job.name;
}

// True when the file of `job` looks like the copy a sync client makes when two
// machines changed one file. A numbered name counts only beside its original:
// "会议 (1).md" alone may well be the user's own name.
bool looks_like_conflict_copy(const Walk& walk, const FileJob& job) {
  for (const std::string_view mark : {".sync-conflict-", "(Case Conflict)"}) {
    if (job.name.find(mark) != std::string::npos) return true;
  }
  // "(conflicted copy …)", or with the machine's or person's name first:
  // "(Jane's conflicted copy …)".
  if (const auto at = job.name.find("conflicted copy");
      at != std::string::npos && job.name.rfind('(', at) != std::string::npos) {
    return true;
  }
  const auto original = without_copy_number(job.name);
  if (!original) return false;
  // A month's files stand together in walk order, sorted by name.
  const auto month = std::ranges::equal_range(walk.files, job.month, {}, &FileJob::month);
  return std::ranges::binary_search(month, *original, {}, &FileJob::name);
}

// What reading and parsing one record file gave, beside its entry.
// What became of one record file. A hundred thousand of them stand side by
// side at the scan's peak: what few files have is held apart.
struct FileResult {
  struct Skip {
    std::string warning;
    // The date of the file, when its name has one.
    std::optional<std::string> date;
  };
  // The stamp of a file read or taken as known.
  std::optional<files::Stamp> stamp;
  // Skipped with a warning.
  std::unique_ptr<Skip> skip;
  bool read = false;
  bool goal_from_inventory = false;
  // Read, and named like a sync client's conflict copy.
  bool conflict_copy = false;
  // Whether the file was read rather than taken as known.
  bool read_file = false;
};

FileResult skipped(std::string_view shown, std::string_view why,
                   std::optional<std::string_view> date) {
  FileResult result;
  result.skip = std::make_unique<FileResult::Skip>(
      fmt::format("[warn] 跳过无法读取的记录文件: {}: {}\n", shown, why),
      date ? std::optional<std::string>(*date) : std::nullopt);
  return result;
}

// Whether the file of `job` can be known by its name: two names that are not
// UTF-8 may be listed as one text.
bool known_by_name(const FileJob& job) {
  return job.name.find("\xEF\xBF\xBD") == std::string::npos;
}

// The stamp of the file of `job` when it is still the one known: its path
// below the root then names its record among the known ones.
std::optional<files::Stamp> still_known(const FileJob& job, const std::string& key,
                                        const std::optional<files::Stamp>& now,
                                        const KnownRecords* known) {
  if (known == nullptr || !now || !known_by_name(job)) return std::nullopt;
  const auto was = known->stamp(key);
  return was && *was == *now ? now : std::nullopt;
}

}  // namespace

TakenRecord take_record(std::string_view text, std::string_view date, std::string_view file_name) {
  TakenRecord taken;
  taken.entry = parse_entry(text, date, file_name);
  if (!taken.entry) return taken;
  keep_snippet_only(*taken.entry);
  const bool parsed_goal = taken.entry->goal.has_value();
  add_inventory_fields(*taken.entry, text);
  taken.goal_from_inventory = !parsed_goal && taken.entry->goal.has_value();
  return taken;
}

namespace {

// Reads the file of `job` into `entry`, or takes it as known.
FileResult read_record(const files::FileSystem& fs, const Walk& walk, const FileJob& job,
                       JournalEntry& entry, const KnownRecords* known,
                       const std::optional<files::Stamp>& now) {
  const auto date = std::string_view(job.name).substr(0, 10);
  const bool dated = parse_calendar_date(date).has_value();
  const auto shown = [&] { return shown_file(walk, job); };
  // A line break in the name would forge lines in every file that lists it.
  if (text::has_control(job.name)) {
    return skipped(text::escape_controls(shown()), "文件名含控制字符",
                   dated ? std::optional(date) : std::nullopt);
  }
  if (!dated) {
    // Its "date" would reach the reports as a month such as "meeting".
    return skipped(shown(), "文件名不以有效日期 YYYY-MM-DD 开头", std::nullopt);
  }
  FileResult result;
  thread_local std::string key;
  if (known != nullptr) {
    key.assign(walk.month_keys[job.month]).append("/").append(job.name);
  }
  if (const auto stamp = still_known(job, key, now, known)) {
    result.stamp = stamp;
    const auto held = known->record(key, entry, result.goal_from_inventory);
    if (held == KnownRecords::Held::NoRecord) return result;
    if (held == KnownRecords::Held::Record) {
      result.read = true;
      result.conflict_copy = looks_like_conflict_copy(walk, job);
      return result;
    }
  }
  files::Stamp stamp;
  const auto content =
      fs.read_record(walk.month_paths[job.month] / files::utf8_path(job.name), &stamp);
  result.read_file = true;
  if (!content) {
    // A record in another encoding, or a FIFO or device under a record's
    // name, would otherwise vanish from every derived file without a trace.
    auto failed = skipped(shown(), content.error().text, date);
    failed.read_file = true;
    return failed;
  }
  result.stamp = stamp;
  auto taken = take_record(*content, date, job.name);
  if (!taken.entry) return result;
  entry = std::move(*taken.entry);
  result.read = true;
  result.goal_from_inventory = taken.goal_from_inventory;
  result.conflict_copy = looks_like_conflict_copy(walk, job);
  return result;
}

// Runs `work` on up to `threads` threads, this one among them.
void on_threads(std::size_t threads, const std::function<void()>& work) {
  std::vector<std::jthread> helpers;
  try {
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads do as well, only slower.
  }
  work();
}

// The stamp of every file of the walk now, into its result, each month's
// asked of its directory at once: with most records known, these looks are
// most of the scan.
void stamps_now(const files::FileSystem& fs, const Walk& walk, std::size_t threads,
                std::vector<FileResult>& results) {
  const auto& jobs = walk.files;
  // Where each month's files begin: they stand together in walk order.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (i == 0 || jobs[i].month != jobs[i - 1].month) starts.push_back(i);
  }
  starts.push_back(jobs.size());
  std::atomic<std::size_t> next{0};
  on_threads(threads, [&] {
    std::vector<std::string_view> names;
    for (std::size_t m = next++; m + 1 < starts.size() && interrupt::noted() == 0; m = next++) {
      names.clear();
      for (std::size_t i = starts[m]; i < starts[m + 1]; ++i) names.push_back(jobs[i].name);
      auto found = fs.record_stamps(walk.month_paths[jobs[starts[m]].month], names);
      for (std::size_t k = 0; k < found.size(); ++k) results[starts[m] + k].stamp = found[k];
    }
  });
}

// Reads every file on all cores into `entries`; the results stand in walk
// order. Reading is most of a run's cost, and record files are independent of
// each other. No exception leaves a reader: running out of memory ends the
// scan with a failure text.
std::expected<std::vector<FileResult>, std::string> read_records(const files::FileSystem& fs,
                                                                 const Walk& walk,
                                                                 std::vector<JournalEntry>& entries,
                                                                 const KnownRecords* known) {
  const auto& jobs = walk.files;
  std::vector<FileResult> results(jobs.size());
  entries.resize(jobs.size());
  const std::size_t threads =
      std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()), 8, jobs.size()});
  std::mutex failure_mutex;
  std::optional<std::string> failure;
  std::atomic<std::size_t> next{0};
  const auto fail = [&](std::string text) {
    const std::lock_guard lock(failure_mutex);
    if (!failure) failure = std::move(text);
    next = jobs.size();
  };
  if (known != nullptr) {
    try {
      stamps_now(fs, walk, threads, results);
    } catch (const std::bad_alloc&) {
      return std::unexpected(std::string("内存不足"));
    }
  }
  // Files are taken, and counted for the progress line, a few at a time: a
  // shared count bumped for every file by every core would cost more than
  // the work on a file the cache knows.
  constexpr std::size_t kFilesATurn = 16;
  const auto work = [&] {
    try {
      for (std::size_t first = next.fetch_add(kFilesATurn);
           first < jobs.size() && interrupt::noted() == 0; first = next.fetch_add(kFilesATurn)) {
        const std::size_t end = std::min(first + kFilesATurn, jobs.size());
        for (std::size_t i = first; i < end; ++i) {
          // The stamp taken ahead, if any, gives way to the file's result.
          const auto now = std::move(results[i].stamp);
          results[i] = read_record(fs, walk, jobs[i], entries[i], known, now);
        }
        progress::advance(end - first);
      }
    } catch (const std::bad_alloc&) {
      fail("内存不足");
    } catch (const std::exception& e) {
      fail(e.what());
    }
  };
  on_threads(threads, work);
  if (failure) return std::unexpected(std::move(*failure));
  return results;
}

}  // namespace

void add_inventory_fields(JournalEntry& entry, std::string_view file_text) {
  constexpr std::string_view kGoalLabel = "分类：";
  constexpr std::string_view kPathLabel = "相对路径：";
  for (const auto raw : text::lines(file_text)) {
    const auto line = text::trim(raw);
    if (line.starts_with(kGoalLabel)) {
      const auto goal = text::trim(line.substr(kGoalLabel.size()));
      if (!goal.empty() && !entry.goal) entry.goal = std::string(goal);
    } else if (line.starts_with(kPathLabel)) {
      const auto segments = split_path_segments(line.substr(kPathLabel.size()));
      if (segments.size() < 2) continue;
      const auto topic = text::trim(segments[1]);
      if (!topic.empty() && std::ranges::find(entry.topics, topic) == entry.topics.end()) {
        entry.topics.emplace_back(topic);
      }
    }
  }
}

namespace {

// Nanoseconds since 1970, as stamps count them.
std::int64_t now_nanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::expected<Scan, std::string> scan_tree(const std::filesystem::path& root, std::ostream& err,
                                           const files::FileSystem& fs, const ScanCache& cache) {
  // Taken before any file is read: a file changed after it and read later
  // counts as changed too recently, which only costs a read next time.
  const std::int64_t trusted_before = now_nanoseconds() - kRacyNanoseconds;
  progress::begin("扫描");
  auto walk = walk_tree(fs, root);
  if (!walk) return std::unexpected(walk.error());
  progress::begin("扫描", walk->files.size(), "个记录文件");
  // The entries stand in one list from reading to the end: the scan is where
  // a run holds the most, and a second list of them would double it.
  std::vector<JournalEntry> entries;
  auto read = read_records(fs, *walk, entries, cache.known);
  // Stopped part way: what was read stands for nothing.
  if (interrupt::noted() != 0) return std::unexpected(std::string());
  if (!read) return std::unexpected(std::move(read.error()));
  auto& results = *read;
  SkippedDates skipped_dates = std::move(walk->skipped);

  // The records read, moved to the front in walk order.
  std::vector<std::size_t> found_at;
  // Conflict copies are read as records, so their entries are likely counted
  // twice in every report: the user is told once which files to settle.
  std::size_t conflict_copies = 0;
  std::vector<std::string> conflict_copies_shown;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const auto& job = walk->files[i];
    for (const auto& warning : job.warnings_before) err << warning;
    if (const auto& skip = results[i].skip) {
      err << skip->warning;
      if (skip->date) skipped_dates.dates.insert(std::move(*skip->date));
    }
    if (!results[i].read) continue;
    if (found_at.size() != i) entries[found_at.size()] = std::move(entries[i]);
    found_at.push_back(i);
    if (results[i].conflict_copy && ++conflict_copies <= 3) {
      conflict_copies_shown.push_back(shown_file(*walk, job));
    }
  }
  for (const auto& warning : walk->trailing_warnings) err << warning;
  if (conflict_copies > 0) {
    err << fmt::format("[warn] 发现 {} 个疑似同步冲突副本（仍按记录处理）: {}\n", conflict_copies,
                       fmt::join(conflict_copies_shown, ", "));
  }
  entries.resize(found_at.size());
  entries.shrink_to_fit();

  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), 0);
  std::ranges::stable_sort(order, [&](std::size_t a, std::size_t b) {
    if (entries[a].date != entries[b].date) return entries[a].date < entries[b].date;
    return entries[a].time < entries[b].time;
  });
  // Sorted in place, cycle by cycle.
  std::vector<std::size_t> position(entries.size());
  for (std::size_t k = 0; k < order.size(); ++k) position[order[k]] = k;
  for (std::size_t start = 0; start < order.size(); ++start) {
    if (order[start] == start || order[start] == entries.size()) continue;
    JournalEntry held = std::move(entries[start]);
    std::size_t at = start;
    while (order[at] != start) {
      entries[at] = std::move(entries[order[at]]);
      const std::size_t next = order[at];
      order[at] = entries.size();
      at = next;
    }
    entries[at] = std::move(held);
    order[at] = entries.size();
  }
  Scan scan;
  if (cache.remember) {
    scan.month_keys = walk->month_keys;
    const auto racy = [&](const FileResult& result) {
      return result.stamp && result.stamp->modified >= trusted_before;
    };
    // Files changed that recently are read again next time whatever their
    // stamps; kept, they only serve a run with nothing to do, which compares
    // no more than kMostRacyKept of them. A workspace just written or copied
    // would otherwise fill the cache with records no run takes.
    const bool keep_racy =
        static_cast<std::size_t>(std::ranges::count_if(results, racy)) <= kMostRacyKept;
    std::size_t k = 0;
    for (std::size_t i = 0; i < results.size(); ++i) {
      const auto& result = results[i];
      const bool found = k < found_at.size() && found_at[k] == i;
      const auto& job = walk->files[i];
      if (result.stamp && known_by_name(job) && (keep_racy || !racy(result))) {
        RememberedFile file{*result.stamp,
                            job.month,
                            0,
                            found,
                            result.goal_from_inventory,
                            result.stamp->modified >= trusted_before};
        if (found) {
          file.at = static_cast<std::uint32_t>(position[k]);
        } else {
          file.at = static_cast<std::uint32_t>(scan.unrecorded_names.size());
          scan.unrecorded_names.push_back(job.name);
        }
        scan.remembered.push_back(file);
      }
      if (found) ++k;
    }
  }
  scan.file_count = results.size();
  scan.read_count =
      static_cast<std::size_t>(std::ranges::count(results, true, &FileResult::read_file));
  scan.skipped = std::move(skipped_dates);
  scan.records = std::move(entries);
  // Every month listed, each with its records in name order; a month whose
  // files all failed lists nothing, as a listing of it would.
  for (const auto& month : walk->months) scan.months[month];
  for (std::size_t k = 0; k < found_at.size(); ++k) {
    const auto& job = walk->files[found_at[k]];
    scan.months[walk->months[job.month]].push_back(
        {position[k], results[found_at[k]].goal_from_inventory});
  }
  return scan;
}

}  // namespace

std::expected<Scan, std::string> scan_journal(const std::filesystem::path& root, std::ostream& err,
                                              const files::FileSystem& fs, const ScanCache& cache) {
  auto scan = scan_tree(root, err, fs, cache);
  // Only once the walk and the read results are gone: the readers freed each
  // file's bytes in heaps of their own, which the later stages, on other
  // threads, would not reuse.
  memory::give_back();
  return scan;
}

void remembered_path(const Scan& scan, const RememberedFile& file, std::string& path) {
  path.assign(scan.month_keys[file.month])
      .append("/")
      .append(file.record ? scan.records[file.at].file_name : scan.unrecorded_names[file.at]);
}

bool SkippedDates::covers(std::string_view date) const {
  if (dates.contains(date)) return true;
  if (date.size() > 7 && date[7] == '-' && months.contains(date.substr(0, 7))) return true;
  return date.size() > 4 && date[4] == '-' && years.contains(date.substr(0, 4));
}

Inference infer(const std::vector<JournalEntry>& records) {
  Inference result;
  // Records repeat a few thousand texts hundreds of thousands of times: each
  // distinct one is kept once, and only those are sorted.
  std::unordered_set<std::string_view> goals;
  std::unordered_set<std::string_view> topics;
  for (const auto& record : records) {
    if (record.goal) {
      ++result.with_goal;
      goals.insert(*record.goal);
    }
    if (!record.topics.empty()) ++result.with_topic;
    topics.insert(record.topics.begin(), record.topics.end());
  }
  const auto sorted = [](const std::unordered_set<std::string_view>& texts) {
    std::vector<std::string> out(texts.begin(), texts.end());
    std::ranges::sort(out);
    return out;
  };
  result.goals = sorted(goals);
  result.topics = sorted(topics);
  return result;
}

}  // namespace journal
