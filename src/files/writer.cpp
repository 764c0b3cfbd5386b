#include "files/writer.hpp"

#include <unistd.h>

#include <chrono>
#include <span>
#include <system_error>
#include <unordered_set>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <fmt/ostream.h>

#include "files/names.hpp"
#include "files/path_text.hpp"
#include "files/reading.hpp"
#include "util/content_hash.hpp"
#include "util/interrupt.hpp"

namespace files {
namespace {

using Failure = std::unexpected<std::string>;

// The text of a signal noted during the run: the caller tells the user.
Failure interrupted() { return std::unexpected(std::string()); }

std::filesystem::path temporary_of(const std::filesystem::path& target) {
  auto temporary = target;
  temporary += ".tmp";
  return temporary;
}

// What stands at a name the writer must put a file at or replace: nothing or
// a regular file. Anything else fails with the text a rename over it would
// give.
std::expected<void, std::string> check_replaceable(EntryKind kind) {
  switch (kind) {
    case EntryKind::Link:
      return std::unexpected(
          std::make_error_code(std::errc::too_many_symbolic_link_levels).message());
    case EntryKind::Directory:
      return std::unexpected(std::make_error_code(std::errc::is_a_directory).message());
    case EntryKind::Other:
      return std::unexpected(std::string(kNotRegular));
    default:
      return {};
  }
}

// Compares what a producer makes with an open file, piece by piece, so that a
// graph of tens of megabytes is never held whole twice.
class Comparison final : public ByteSink {
 public:
  explicit Comparison(ReadFile& file) : file_(file) {}
  void put(std::string_view bytes) override {
    if (!same_) return;
    piece_.resize(bytes.size());
    same_ = read_exactly(piece_.data(), piece_.size()) && piece_ == bytes;
  }
  // A difference settles it: the rest need not be made.
  bool full() const override { return !same_; }
  // True when the file held exactly what was put, and no more.
  bool same() {
    char extra = 0;
    return same_ && !read_exactly(&extra, 1);
  }

 private:
  bool read_exactly(char* to, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
      const auto n = file_.read(std::span(to + got, size - got));
      if (!n || *n == 0) return false;
      got += *n;
    }
    return true;
  }
  ReadFile& file_;
  bool same_ = true;
  std::string piece_;
};

// Whether the regular file `relative` holds the content of `file`.
bool holds(const Tree& tree, const OutputFile& file) {
  auto opened = tree.open_read(file.path);
  if (!opened) return false;
  ReadFile& on_disk = **opened;
  if (file.as_stamped_before) {
    Comparison comparison(on_disk);
    (*file.as_stamped_before)(comparison);
    return comparison.same();
  }
  if (const auto* producer = std::get_if<Producer>(&file.content)) {
    Comparison comparison(on_disk);
    (*producer)(comparison);
    return comparison.same();
  }
  const std::string_view bytes = std::get<std::string>(file.content);
  // A different size settles it without reading.
  const auto identity = on_disk.identity();
  if (!identity || identity->size != bytes.size()) return false;
  const auto existing = read_all(on_disk);
  if (!existing) return false;
  if (!file.stamp) return *existing == bytes;
  const auto [at, length] = *file.stamp;
  return std::string_view(*existing).substr(0, at) == bytes.substr(0, at) &&
         std::string_view(*existing).substr(at + length) == bytes.substr(at + length);
}

Producer bytes_of(const std::variant<std::string, Producer>& content) {
  if (const auto* producer = std::get_if<Producer>(&content)) {
    // A graph of tens of megabytes takes a while to write: a stopped run
    // drops the rest of it.
    return [producer](ByteSink& sink) {
      struct UntilStopped final : ByteSink {
        explicit UntilStopped(ByteSink& out) : out_(out) {}
        void put(std::string_view bytes) override {
          if (interrupt::noted() == 0) out_.put(bytes);
        }
        bool full() const override { return interrupt::noted() != 0 || out_.full(); }
        ByteSink& out_;
      } until_stopped(sink);
      (*producer)(until_stopped);
    };
  }
  const std::string_view bytes = std::get<std::string>(content);
  return [bytes](ByteSink& sink) { sink.put(bytes); };
}

std::string sync_failure(const std::string& reason) { return "同步到磁盘失败: " + reason; }

}  // namespace

std::string changed_input_text(const std::filesystem::path& relative) {
  return generic_path_text(relative) + " 在补全期间被修改，未写入任何文件";
}

std::string moved_temporary_text(std::string_view temporary) {
  return std::string(temporary) + " 在补全期间被移走或改名，未写入任何文件";
}

Writer::Writer(const Tree& root, const Inputs& inputs, std::optional<std::filesystem::path> golden,
               std::ostream& err)
    : root_(root), inputs_(inputs), err_(err) {
  if (golden) golden_.emplace(std::move(*golden), root.file_system());
}

Writer::~Writer() { remove_temporaries(); }

std::expected<void, std::string> Writer::stage(OutputFiles files) {
  for (const auto& file : files) {
    if (auto staged = stage_one(file); !staged) return staged;
  }
  return {};
}

std::expected<void, std::string> Writer::stage_one(const OutputFile& file) {
  if (interrupt::noted() != 0) return interrupted();
  const bool golden = file.file_class == FileClass::Golden;
  if (golden && !golden_) {
    return std::unexpected(file.failure_prefix +
                           std::make_error_code(std::errc::invalid_argument).message());
  }
  const Tree& tree = golden ? *golden_ : root_;
  if (!golden) taken_.insert(file.path.lexically_normal());

  if (auto parent = std::pair(&tree, file.path.parent_path());
      file.path.has_parent_path() && !directories_made_.contains(parent)) {
    if (auto made = tree.file_system().create_directories(tree.base(), parent.second); made) {
      directories_made_.insert(std::move(parent));
    } else {
      if (made.error().kind == ErrorKind::NameRefused && !file.user_name.empty()) {
        refuse(tree, file.path, file.user_name);
        return {};
      }
      const auto& prefix = file.directory_failure_prefix.empty() ? file.failure_prefix
                                                                 : file.directory_failure_prefix;
      return std::unexpected(prefix + made.error().text);
    }
  }
  if (file.file_class == FileClass::State && inputs_.unreadable(file.path)) {
    if (auto kept = keep_copy(file.path); !kept) return kept;
  }
  if (tree.kind(temporary_of(file.path)) == EntryKind::Missing && holds(tree, file)) {
    // Left as it is: a repeated run then creates no new files, which on a busy
    // disk is most of its cost, and sync and backup tools see nothing to copy.
    ++unchanged_;
    return {};
  }
  return stage_bytes(tree, file.path, file.content, file.failure_prefix, Commit::Replace,
                     file.user_name);
}

std::expected<void, std::string> Writer::stage_bytes(
    const Tree& tree, const std::filesystem::path& target,
    const std::variant<std::string, Producer>& content, const std::string& failure_prefix,
    Commit how, const std::string& user_name) {
  const auto fail = [&](const std::string& reason) {
    return std::unexpected(failure_prefix + reason);
  };
  if (auto checked = check_replaceable(tree.kind(target)); !checked) return fail(checked.error());
  auto key = std::pair(&tree, target.lexically_normal());
  if (const auto earlier = staged_at_.find(key); earlier != staged_at_.end()) {
    // The later file of one name wins, as a later write of it would; its
    // temporary takes the earlier one's place below.
    staged_[earlier->second].how = Commit::Superseded;
    ++superseded_;
  }
  const auto temporary = how == Commit::InPlace ? target : temporary_of(target);
  switch (const auto kind = how == Commit::InPlace ? EntryKind::Missing : tree.kind(temporary)) {
    case EntryKind::Regular:
    case EntryKind::Link:
      // Left by a run that was killed. Removing the name leaves alone any file
      // it was another name of.
      if (auto removed = tree.file_system().remove(tree.base(), temporary); !removed) {
        return fail(removed.error().text);
      }
      break;
    default:
      if (auto checked = check_replaceable(kind); !checked) return fail(checked.error());
  }
  if (auto made = tree.file_system().create_file(tree.base(), temporary, bytes_of(content));
      !made) {
    if (made.error().kind == ErrorKind::NameRefused && !user_name.empty()) {
      refuse(tree, target, user_name);
      return {};
    }
    return fail(made.error().text);
  }
  staged_at_[std::move(key)] = staged_.size();
  staged_.push_back({&tree, target, temporary, failure_prefix, how});
  if (interrupt::noted() != 0) return interrupted();
  return {};
}

void Writer::refuse(const Tree& tree, const std::filesystem::path& target,
                    const std::string& user_name) {
  // Like a name that would leave its directory: the file is not written, and
  // the run goes on.
  err_ << unsafe_name_warning(user_name);
  if (&tree != &root_) return;
  taken_.erase(target.lexically_normal());
  refused_.insert(target.lexically_normal());
}

bool Writer::renames_keeping_existing(const std::filesystem::path& dir) {
  if (const auto known = renames_keeping_existing_.find(dir);
      known != renames_keeping_existing_.end()) {
    return known->second;
  }
  const Tree& tree = root_;
  const FileSystem& fs = tree.file_system();
  const auto probe = dir / kProbeName;
  auto moved = probe;
  moved += ".2";
  for (const auto& leftover : {probe, moved}) {
    if (const auto kind = tree.kind(leftover);
        kind == EntryKind::Regular || kind == EntryKind::Link) {
      (void)fs.remove(tree.base(), leftover);
    }
  }
  // A directory that takes no probe takes no copy either: staging it fails.
  bool keeps = true;
  if (fs.create_file(tree.base(), probe, [](ByteSink&) {})) {
    if (auto renamed = fs.rename(tree.base(), probe, moved, true); renamed) {
      (void)fs.remove(tree.base(), moved);
    } else {
      keeps = renamed.error().kind != ErrorKind::Unsupported;
      (void)fs.remove(tree.base(), probe);
    }
  }
  renames_keeping_existing_.emplace(dir, keeps);
  return keeps;
}

std::expected<void, std::string> Writer::keep_copy(const std::filesystem::path& relative) {
  const Tree& tree = root_;
  // The note application may have mended or removed it since the load.
  if (tree.kind(relative) != EntryKind::Regular) return {};
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  auto stem = relative;
  stem += fmt::format(".bad-{:%Y%m%dT%H%M%SZ}", fmt::gmtime(now));
  // Runs within one second may each keep a different file: no copy replaces
  // an earlier one.
  auto copy = stem;
  for (int n = 2; tree.kind(copy) != EntryKind::Missing || taken_.contains(copy.lexically_normal());
       ++n) {
    copy = stem;
    copy += fmt::format("-{}", n);
  }
  taken_.insert(copy.lexically_normal());
  const std::string prefix = "保留副本失败: " + root_.shown(copy) + ": ";
  const auto bytes = tree.read(relative);
  if (!bytes) return std::unexpected(prefix + bytes.error());
  // FAT drivers refuse a rename that must not replace (and a second link to a
  // file): there the copy is written under its own name before the commit
  // begins, where a refusal still changes nothing.
  const Commit how =
      renames_keeping_existing(relative.parent_path()) ? Commit::KeepExisting : Commit::InPlace;
  if (auto staged = stage_bytes(tree, copy, *bytes, prefix, how); !staged) return staged;
  fmt::print(err_, "[warn] 无法读取 {}，已保留副本: {}\n", root_.shown(relative),
             root_.shown(copy));
  return {};
}

std::expected<void, std::string> Writer::check_inputs() const {
  const FileSystem& fs = root_.file_system();
  for (const auto& [relative, loaded] : inputs_.all()) {
    // Only what the run would replace matters: an edit elsewhere is not lost.
    if (!taken_.contains(relative)) continue;
    if (fs.identity(root_.base(), relative) != loaded.identity) {
      return std::unexpected(changed_input_text(relative));
    }
    // FAT keeps modification times to 2 s, and some FUSE drivers do not move
    // them on a write in place: an edit of the same size can leave the
    // identity as it was, but not the bytes.
    if (!loaded.hash) continue;
    hashing::ContentHash hash;
    const auto file = fs.open_read(root_.base(), relative);
    const bool read = file && hash_rest(**file, hash);
    if (!read && interrupt::noted() != 0) return interrupted();
    // What cannot be read again cannot be shown to be unchanged.
    if (!read || hash.digest() != *loaded.hash) {
      return std::unexpected(changed_input_text(relative));
    }
  }
  return {};
}

// A program that holds a target open without sharing it (an editor, a
// scanner, a sync client on Windows) would make its rename fail half way
// through the commit; found now, the run fails with nothing replaced.
std::expected<void, std::string> Writer::check_targets() const {
  for (const Staged& file : staged_) {
    if (file.how != Commit::Replace) continue;
    const auto checked = file.tree->file_system().check_replaceable(file.tree->base(), file.target);
    if (!checked && checked.error().kind == ErrorKind::Busy) {
      return std::unexpected(generic_path_text(file.target) + " 被其他程序占用，未写入任何文件");
    }
  }
  return {};
}

std::expected<void, std::string> Writer::check_temporaries() const {
  std::map<std::pair<const Tree*, std::filesystem::path>, std::vector<const Staged*>> by_directory;
  for (const auto& file : staged_) {
    if (file.how != Commit::Superseded) {
      by_directory[{file.tree, file.temporary.parent_path()}].push_back(&file);
    }
  }
  for (const auto& [directory, files] : by_directory) {
    const auto listed = directory.first->list(directory.second);
    if (!listed) return std::unexpected(files.front()->failure_prefix + listed.error());
    std::unordered_set<std::string> names;
    for (const auto& entry : *listed) names.insert(path_text(entry.path.filename()));
    for (const Staged* file : files) {
      if (!names.contains(path_text(file->temporary.filename()))) {
        return std::unexpected(moved_temporary_text(file->tree->shown(file->temporary)));
      }
    }
  }
  return {};
}

std::expected<void, std::string> Writer::flush_each(const Tree& tree) const {
  const FileSystem& fs = tree.file_system();
  std::set<std::filesystem::path> directories;
  for (const auto& file : staged_) {
    if (file.tree != &tree || file.how == Commit::Superseded) continue;
    if (interrupt::noted() != 0) return interrupted();
    if (auto synced = fs.sync_file(tree.base(), file.temporary); !synced) {
      if (synced.error().kind == ErrorKind::NotFound) {
        return std::unexpected(moved_temporary_text(tree.shown(file.temporary)));
      }
      return std::unexpected(sync_failure(synced.error().text));
    }
    // The directories above it too, up to the base: one the run made holds
    // no name until its parent is flushed. Each is met with those above it.
    for (auto dir = file.temporary.lexically_normal().parent_path();; dir = dir.parent_path()) {
      if (!directories.insert(dir).second || dir.empty()) break;
    }
  }
  for (const auto& directory : directories) {
    if (auto synced = fs.sync_directory(tree.base(), directory); !synced) {
      return std::unexpected(sync_failure(synced.error().text));
    }
  }
  return {};
}

std::expected<void, std::string> Writer::flush_staged() const {
  if (staged_.empty()) return {};
  const FileSystem& fs = root_.file_system();
  // One flush of each file system instead of one per file where the system
  // has it; otherwise each file and directory in turn.
  const auto flush = [&](const Tree& tree) -> std::expected<bool, std::string> {
    const auto synced = fs.sync_file_system(tree.base());
    if (synced) return true;
    if (synced.error().kind != ErrorKind::Unsupported) {
      return std::unexpected(sync_failure(synced.error().text));
    }
    if (auto each = flush_each(tree); !each) return std::unexpected(each.error());
    return false;
  };
  const auto root_whole = flush(root_);
  if (!root_whole) return std::unexpected(root_whole.error());
  if (!golden_ ||
      std::ranges::none_of(staged_, [&](const Staged& each) { return each.tree == &*golden_; })) {
    return {};
  }
  if (fs.device(golden_->base()) != fs.device(root_.base())) {
    if (const auto flushed = flush(*golden_); !flushed) return std::unexpected(flushed.error());
  } else if (!*root_whole) {
    return flush_each(*golden_);
  }
  return {};
}

std::expected<void, std::string> Writer::commit() {
  if (interrupt::noted() != 0) return interrupted();
  // The data of every temporary is on disk before any rename can reach the
  // journal.
  if (auto flushed = flush_staged(); !flushed) return flushed;
  if (interrupt::noted() != 0) return interrupted();
  if (auto checked = check_inputs(); !checked) return checked;
  if (auto checked = check_temporaries(); !checked) return checked;
  if (auto checked = check_targets(); !checked) return checked;

  const interrupt::Held held;
  if (interrupt::noted() != 0) return interrupted();
  const FileSystem& fs = root_.file_system();
  std::set<std::pair<const Tree*, std::filesystem::path>> directories;
  for (; renamed_ < staged_.size(); ++renamed_) {
    const Staged& file = staged_[renamed_];
    if (file.how == Commit::Superseded) continue;
    if (file.how != Commit::InPlace) {
      if (auto renamed = fs.rename(file.tree->base(), file.temporary, file.target,
                                   file.how == Commit::KeepExisting);
          !renamed) {
        return std::unexpected(file.failure_prefix + renamed.error().text);
      }
    }
    directories.emplace(file.tree, file.target.parent_path());
  }
  for (const auto& [tree, directory] : directories) {
    if (auto synced = fs.sync_directory(tree->base(), directory); !synced) {
      return std::unexpected(sync_failure(synced.error().text));
    }
  }
  return {};
}

void Writer::remove_temporaries() {
  for (std::size_t i = renamed_; i < staged_.size(); ++i) {
    const Staged& file = staged_[i];
    if (file.how == Commit::Superseded) continue;
    (void)file.tree->file_system().remove(file.tree->base(), file.temporary);
  }
  renamed_ = staged_.size();
}

}  // namespace files
