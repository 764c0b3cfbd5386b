#include "files/names.hpp"

#include <string>

#include "files/path_text.hpp"
#include "util/text.hpp"

namespace files {
namespace {

// `name` with every ASCII letter in the other case.
std::string swapped_case(std::string_view name) {
  std::string swapped(name);
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return swapped;
}

}  // namespace

bool folds_case(const Tree& tree, const std::filesystem::path& dir) {
  const FileSystem& fs = tree.file_system();
  const auto probe = dir / kProbeName;
  if (const auto kind = tree.kind(probe); kind == EntryKind::Regular || kind == EntryKind::Link) {
    if (!fs.remove(tree.base(), probe)) return false;
  }
  if (!fs.create_file(tree.base(), probe, [](ByteSink&) {})) return false;
  const bool folds = tree.kind(dir / utf8_path(swapped_case(kProbeName))) == EntryKind::Regular;
  (void)fs.remove(tree.base(), probe);
  return folds;
}

FileNames FileNames::of(const Tree& tree, std::filesystem::path dir) {
  return FileNames([&tree, dir = std::move(dir)] { return folds_case(tree, dir); });
}

bool FileNames::folds() {
  if (!answer_) answer_ = folds_();
  return *answer_;
}

std::optional<std::string> FileNames::take(const std::filesystem::path& relative,
                                           std::string_view name) {
  std::string path = generic_path_text(relative.lexically_normal());
  if (paths_.contains(path)) return std::nullopt;
  std::string folded = text::fold_case(path);
  const auto earlier = by_folded_.find(folded);
  if (earlier != by_folded_.end() && folds()) return earlier->second;
  paths_.insert(std::move(path));
  // The first spelling stands for the file.
  if (earlier == by_folded_.end()) by_folded_.emplace(std::move(folded), name);
  return std::nullopt;
}

bool is_unsafe_name(std::string_view name) {
  // The longest name a file system entry may have, in bytes.
  constexpr std::size_t kMaxSegmentBytes = 255;
  constexpr std::string_view kTemporarySuffix = ".md.tmp";
  // A control character would also break the lines that name the file.
  if (name == "_index" || text::has_control(name)) return true;
#if defined(_WIN32)
  // Windows parts a path at a backslash too: "a\..\..\x" would climb out,
  // and goal "A\B" would take goal A/B's file.
  if (name.contains('\\')) return true;
#endif
  const std::string relative = std::string(name) + std::string(kTemporarySuffix);
  if (relative.starts_with('/')) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = relative.find('/', start);
    const auto segment = std::string_view(relative).substr(
        start, slash == std::string::npos ? std::string::npos : slash - start);
    if (segment == "..") return true;
    if (segment.size() > kMaxSegmentBytes) return true;
    if (slash == std::string::npos) return false;
    start = slash + 1;
  }
}

std::string unsafe_name_warning(std::string_view name) {
  return "[warn] 跳过不安全的路径名: 「" + text::escape_controls(name) + "」\n";
}

std::string case_clash_warning(std::string_view name, std::string_view earlier) {
  return "[warn] 跳过不安全的路径名: 「" + text::escape_controls(name) + "」: 与「" +
         text::escape_controls(earlier) + "」在此文件系统上是同一个文件名\n";
}

}  // namespace files
