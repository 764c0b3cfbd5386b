#include "support/memory_file_system.hpp"

#include <algorithm>
#include <system_error>

#include "files/path_text.hpp"
#include "util/text.hpp"

namespace testing_support {
namespace {

using Path = MemoryFileSystem::Path;

files::Error error(std::errc code, files::ErrorKind kind = files::ErrorKind::Other) {
#if defined(_WIN32)
  // The C library of Windows has no text for ELOOP; the face speaks as Linux.
  if (code == std::errc::too_many_symbolic_link_levels) {
    return {kind, "Too many levels of symbolic links"};
  }
#endif
  return {kind, std::make_error_code(code).message()};
}
files::Error not_found() {
  return error(std::errc::no_such_file_or_directory, files::ErrorKind::NotFound);
}
files::Error link_met() {
  return error(std::errc::too_many_symbolic_link_levels, files::ErrorKind::Link);
}
files::Error not_regular() {
  return {files::ErrorKind::NotRegular, std::string(files::kNotRegular)};
}

std::string parent_of(const std::string& key) {
  return files::generic_path_text(files::utf8_path(key).parent_path());
}

class MemoryReadFile final : public files::ReadFile {
 public:
  MemoryReadFile(std::shared_ptr<const std::string> bytes, files::FileIdentity identity)
      : bytes_(std::move(bytes)), identity_(identity) {}
  std::expected<std::size_t, files::Error> read(std::span<char> buffer) override {
    const std::size_t n = std::min(buffer.size(), bytes_->size() - at_);
    std::copy_n(bytes_->data() + at_, n, buffer.data());
    at_ += n;
    return n;
  }
  std::optional<files::FileIdentity> identity() const override { return identity_; }

 private:
  std::shared_ptr<const std::string> bytes_;
  files::FileIdentity identity_;
  std::size_t at_ = 0;
};

class MemoryLock final : public files::Lock {
 public:
  MemoryLock(std::shared_ptr<std::set<std::string>> locks, std::string key)
      : locks_(std::move(locks)), key_(std::move(key)) {}
  ~MemoryLock() override { locks_->erase(key_); }

 private:
  std::shared_ptr<std::set<std::string>> locks_;
  std::string key_;
};

}  // namespace

std::string MemoryFileSystem::key_of(const Path& path) const {
  const std::string normal = files::generic_path_text(path.lexically_normal());
  std::string key =
      normal.size() > 1 && normal.ends_with('/') ? normal.substr(0, normal.size() - 1) : normal;
  if (!folds_case_) return key;
  std::string spelled;
  for (const auto& part : files::utf8_path(key)) {
    std::string next = spelled.empty()  ? files::generic_path_text(part)
                       : spelled == "/" ? "/" + files::generic_path_text(part)
                                        : spelled + "/" + files::generic_path_text(part);
    if (!nodes_.contains(next)) {
      const auto folded = text::fold_case(files::generic_path_text(part));
      for (const auto& child : children(spelled.empty() ? "." : spelled)) {
        if (text::fold_case(files::generic_path_text(files::utf8_path(child).filename())) == folded)
          next = child;
      }
    }
    spelled = std::move(next);
  }
  return spelled;
}

std::vector<std::string> MemoryFileSystem::children(const std::string& key) const {
  std::vector<std::string> found;
  const std::string prefix = key == "/" ? "/" : key == "." ? "" : key + "/";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
    if (!it->first.starts_with(prefix)) break;
    const auto rest = std::string_view(it->first).substr(prefix.size());
    if (!rest.empty() && rest.find('/') == std::string_view::npos) found.push_back(it->first);
  }
  return found;
}

const MemoryFileSystem::Node* MemoryFileSystem::find(const std::string& key) const {
  const auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

MemoryFileSystem::Node& MemoryFileSystem::add(const std::string& key, Node node) const {
  node.inode = next_inode_++;
  node.modified = clock_++;
  return nodes_[key] = std::move(node);
}

std::string MemoryFileSystem::resolved(const Path& path, int hops) const {
  const std::string key = key_of(path);
  if (hops > 40) return key;
  Path walked;
  for (const auto& part : files::utf8_path(key)) {
    walked /= part;
    const Node* node = find(files::generic_path_text(walked));
    if (node == nullptr || node->type != Type::Link) continue;
    const Path rest = files::utf8_path(key).lexically_relative(walked);
    const Path target =
        node->target.is_absolute() ? node->target : walked.parent_path() / node->target;
    return resolved(rest == "." ? target : target / rest, hops + 1);
  }
  return key;
}

std::expected<std::string, files::Error> MemoryFileSystem::below(const Path& base,
                                                                 const Path& relative) const {
  if (relative.has_root_path()) return std::unexpected(error(std::errc::invalid_argument));
  std::string key = resolved(base);
  const Node* node = find(key);
  if (node == nullptr) return std::unexpected(not_found());
  std::vector<std::string> parts;
  for (const auto& part : relative) {
    const auto name = files::generic_path_text(part);
    if (name.empty() || name == ".") continue;
    if (name == "..") return std::unexpected(error(std::errc::invalid_argument));
    parts.push_back(name);
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (node == nullptr) return std::unexpected(not_found());
    if (node->type == Type::Link) return std::unexpected(link_met());
    if (node->type != Type::Directory) return std::unexpected(error(std::errc::not_a_directory));
    key = key_of(files::utf8_path(key) / files::utf8_path(parts[i]));
    node = find(key);
  }
  return key;
}

std::optional<files::Error> MemoryFileSystem::failed(Call call, const Path& path) const {
  if (fail_) return fail_(call, path);
  return std::nullopt;
}

void MemoryFileSystem::make_directory(const Path& path) {
  Path walked;
  for (const auto& part : path) {
    walked /= part;
    const auto key = key_of(walked);
    if (find(key) == nullptr) add(key, {.type = Type::Directory});
  }
}

void MemoryFileSystem::write(const Path& path, std::string bytes) {
  make_directory(path.parent_path());
  add(key_of(path), {.bytes = std::make_shared<const std::string>(std::move(bytes))});
}

void MemoryFileSystem::write(const std::string& path, std::string bytes) {
  write(files::utf8_path(path), std::move(bytes));
}

std::optional<std::string> MemoryFileSystem::read(const std::string& path) const {
  return read(files::utf8_path(path));
}

void MemoryFileSystem::make_link(const Path& path, const Path& target) {
  make_directory(path.parent_path());
  add(key_of(path), {.type = Type::Link, .target = target});
}

void MemoryFileSystem::make_special(const Path& path) {
  make_directory(path.parent_path());
  add(key_of(path), {.type = Type::Special});
}

std::optional<std::string> MemoryFileSystem::read(const Path& path) const {
  const Node* node = find(key_of(path));
  if (node == nullptr || node->type != Type::File) return std::nullopt;
  return *node->bytes;
}

std::vector<std::string> MemoryFileSystem::listing(const Path& dir) const {
  const auto root = key_of(dir);
  std::vector<std::string> paths;
  for (const auto& [key, node] : nodes_) {
    if (!key.starts_with(root + "/")) continue;
    auto relative = key.substr(root.size() + 1);
    if (node.type == Type::Directory) relative += "/";
    paths.push_back(std::move(relative));
  }
  std::ranges::sort(paths);
  return paths;
}

files::EntryKind MemoryFileSystem::kind(const Path& base, const Path& relative) const {
  const auto key = below(base, relative);
  if (!key) {
    return key.error().kind == files::ErrorKind::Link ? files::EntryKind::Link
                                                      : files::EntryKind::Missing;
  }
  const Node* node = find(*key);
  if (node == nullptr) return files::EntryKind::Missing;
  switch (node->type) {
    case Type::File:
      return files::EntryKind::Regular;
    case Type::Directory:
      return files::EntryKind::Directory;
    case Type::Link:
      return files::EntryKind::Link;
    case Type::Special:
      return files::EntryKind::Other;
  }
  return files::EntryKind::Other;
}

std::optional<files::FileIdentity> MemoryFileSystem::identity(const Path& base,
                                                              const Path& relative) const {
  const auto key = below(base, relative);
  if (!key) return std::nullopt;
  const Node* node = find(*key);
  if (node == nullptr || node->type != Type::File) return std::nullopt;
  return files::FileIdentity{1, node->inode, node->bytes->size(), node->modified, 0};
}

std::expected<std::unique_ptr<files::ReadFile>, files::Error> MemoryFileSystem::open_read(
    const Path& base, const Path& relative) const {
  if (auto error = failed(Call::OpenRead, base / relative)) return std::unexpected(*error);
  const auto key = below(base, relative);
  if (!key) return std::unexpected(key.error());
  const Node* node = find(*key);
  if (node == nullptr) return std::unexpected(not_found());
  if (node->type == Type::Link) return std::unexpected(link_met());
  if (node->type != Type::File) return std::unexpected(not_regular());
  return std::make_unique<MemoryReadFile>(
      node->bytes, files::FileIdentity{1, node->inode, node->bytes->size(), node->modified, 0});
}

std::expected<std::vector<files::DirEntry>, files::Error> MemoryFileSystem::list(
    const Path& base, const Path& relative) const {
  if (auto error = failed(Call::List, base / relative)) return std::unexpected(*error);
  const auto key = below(base, relative);
  if (!key) return std::unexpected(key.error());
  const Node* node = find(*key);
  if (node == nullptr) return std::unexpected(not_found());
  if (node->type == Type::Link) return std::unexpected(link_met());
  if (node->type != Type::Directory) return std::unexpected(error(std::errc::not_a_directory));
  std::vector<files::DirEntry> entries;
  for (const auto& child : children(*key)) {
    const auto name = files::utf8_path(child).filename();
    entries.push_back({text::to_valid_utf8(files::generic_path_text(name)), relative / name});
  }
  std::ranges::sort(entries, {}, &files::DirEntry::name);
  return entries;
}

std::expected<void, files::Error> MemoryFileSystem::create_directories(const Path& base,
                                                                       const Path& relative) const {
  if (auto error = failed(Call::CreateDirectories, base / relative)) return std::unexpected(*error);
  if (find(resolved(base)) == nullptr) {
    Path walked;
    for (const auto& part : base) {
      walked /= part;
      if (find(key_of(walked)) == nullptr) add(key_of(walked), {.type = Type::Directory});
    }
  }
  Path walked;
  for (const auto& part : relative) {
    walked /= part;
    const auto key = below(base, walked);
    if (!key) return std::unexpected(key.error());
    const Node* node = find(*key);
    if (node == nullptr) {
      add(*key, {.type = Type::Directory});
    } else if (node->type == Type::Link) {
      return std::unexpected(link_met());
    } else if (node->type != Type::Directory) {
      return std::unexpected(error(std::errc::not_a_directory));
    }
  }
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::create_file(
    const Path& base, const Path& relative, const files::Producer& produce) const {
  if (auto error = failed(Call::CreateFile, base / relative)) return std::unexpected(*error);
  const auto key = below(base, relative);
  if (!key) return std::unexpected(key.error());
  const Node* parent = find(parent_of(*key));
  if (parent == nullptr) return std::unexpected(not_found());
  if (parent->type == Type::Link) return std::unexpected(link_met());
  if (find(*key) != nullptr) return std::unexpected(error(std::errc::file_exists));
  struct Collect final : files::ByteSink {
    void put(std::string_view bytes) override { text += bytes; }
    std::string text;
  } collect;
  produce(collect);
  add(*key, {.bytes = std::make_shared<const std::string>(std::move(collect.text))});
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::remove(const Path& base,
                                                           const Path& relative) const {
  if (auto error = failed(Call::Remove, base / relative)) return std::unexpected(*error);
  const auto key = below(base, relative);
  if (!key) return std::unexpected(key.error());
  const Node* node = find(*key);
  if (node == nullptr) return std::unexpected(not_found());
  if (node->type == Type::Directory) return std::unexpected(error(std::errc::is_a_directory));
  nodes_.erase(*key);
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::rename(const Path& base, const Path& from,
                                                           const Path& to,
                                                           bool keep_existing) const {
  if (auto error = failed(Call::Rename, base / to)) return std::unexpected(*error);
  const auto source = below(base, from);
  if (!source) return std::unexpected(source.error());
  const auto target = below(base, to);
  if (!target) return std::unexpected(target.error());
  const Node* moved = find(*source);
  if (moved == nullptr) return std::unexpected(not_found());
  if (const Node* there = find(*target)) {
    if (keep_existing) return std::unexpected(error(std::errc::file_exists));
    if (there->type == Type::Directory) return std::unexpected(error(std::errc::is_a_directory));
  }
  Node node = *moved;
  nodes_.erase(*source);
  // On a drive that folds case the new spelling takes the old one's place.
  nodes_.erase(*target);
  nodes_[files::generic_path_text(files::utf8_path(*target).parent_path() / to.filename())] =
      std::move(node);
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::sync_file_system(const Path& base) const {
  if (auto error = failed(Call::SyncFileSystem, base)) return std::unexpected(*error);
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::check_replaceable(const Path& base,
                                                                      const Path& relative) const {
  if (auto error = failed(Call::CheckReplaceable, base / relative)) return std::unexpected(*error);
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::sync_file(const Path& base,
                                                              const Path& relative) const {
  if (auto error = failed(Call::SyncFile, base / relative)) return std::unexpected(*error);
  const auto key = below(base, relative);
  if (!key) return std::unexpected(key.error());
  const Node* node = find(*key);
  if (node == nullptr) return std::unexpected(not_found());
  if (node->type == Type::Link) return std::unexpected(link_met());
  return {};
}

std::expected<void, files::Error> MemoryFileSystem::sync_directory(const Path& base,
                                                                   const Path& relative) const {
  if (auto error = failed(Call::SyncDirectory, base / relative)) return std::unexpected(*error);
  return {};
}

std::expected<std::unique_ptr<files::Lock>, files::Error> MemoryFileSystem::lock_directory(
    const Path& base, const Path& relative) const {
  if (auto error = failed(Call::Lock, base / relative)) return std::unexpected(*error);
  const auto key = below(base, relative);
  if (!key) return std::unexpected(key.error());
  if (!locks_->insert(*key).second) {
    return std::unexpected(
        error(std::errc::resource_unavailable_try_again, files::ErrorKind::Busy));
  }
  return std::make_unique<MemoryLock>(locks_, *key);
}

std::optional<std::uint64_t> MemoryFileSystem::device(const Path&) const { return 1; }

std::expected<std::vector<files::DirEntry>, files::Error> MemoryFileSystem::list_records(
    const Path& dir) const {
  if (auto error = failed(Call::ListRecords, dir)) return std::unexpected(*error);
  const auto key = resolved(dir);
  const Node* node = find(key);
  if (node == nullptr) return std::unexpected(not_found());
  if (node->type != Type::Directory) return std::unexpected(error(std::errc::not_a_directory));
  std::vector<files::DirEntry> entries;
  for (const auto& child : children(key)) {
    const auto name = files::utf8_path(child).filename();
    entries.push_back({text::to_valid_utf8(files::generic_path_text(name)), dir / name});
  }
  std::ranges::sort(entries, {}, &files::DirEntry::name);
  return entries;
}

bool MemoryFileSystem::is_record_directory(const Path& path) const {
  const Node* node = find(resolved(path));
  return node != nullptr && node->type == Type::Directory;
}

std::optional<files::Stamp> MemoryFileSystem::record_stamp(const Path& path) const {
  const Node* node = find(resolved(path));
  if (node == nullptr || (node->type != Type::File && node->type != Type::Directory)) {
    return std::nullopt;
  }
  const std::uint64_t size = node->type == Type::File ? node->bytes->size() : 0;
  return files::Stamp{
      1, node->inode, size, node->modified, node->modified, node->type == Type::Directory};
}

std::expected<std::string, files::Error> MemoryFileSystem::read_record(const Path& path,
                                                                       files::Stamp* stamp) const {
  if (auto error = failed(Call::ReadRecord, path)) return std::unexpected(*error);
  const Node* node = find(resolved(path));
  if (node == nullptr) return std::unexpected(not_found());
  if (node->type != Type::File) return std::unexpected(not_regular());
  if (node->bytes->size() > files::kMaxRecordBytes) {
    return std::unexpected(
        files::Error{files::ErrorKind::Other,
                     files::too_large_text(node->bytes->size(), files::kMaxRecordBytes)});
  }
  if (!text::is_valid_utf8(*node->bytes)) {
    return std::unexpected(files::Error{files::ErrorKind::Other, std::string(files::kNotUtf8)});
  }
  if (stamp != nullptr) *stamp = *record_stamp(path);
  return *node->bytes;
}

}  // namespace testing_support
