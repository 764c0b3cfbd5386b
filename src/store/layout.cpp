#include "store/layout.hpp"

#include <string>

namespace store {

bool is_unsafe_name(std::string_view name) {
  // The longest name a file system entry may have, in bytes.
  constexpr std::size_t kMaxSegmentBytes = 255;
  constexpr std::string_view kTemporarySuffix = ".md.tmp";
  if (name == "_index" || name.find('\0') != std::string_view::npos) return true;
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

}  // namespace store
