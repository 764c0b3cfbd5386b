#include "store/layout.hpp"

#include <string>

#include "util/text.hpp"

namespace store {

bool is_unsafe_name(std::string_view name) {
  // The longest name a file system entry may have, in bytes.
  constexpr std::size_t kMaxSegmentBytes = 255;
  constexpr std::string_view kTemporarySuffix = ".md.tmp";
  // A control character would also break the lines that name the file.
  if (name == "_index" || text::has_control(name)) return true;
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

}  // namespace store
