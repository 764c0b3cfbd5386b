#include "files/path_text.hpp"

#ifdef _WIN32
#include <algorithm>
#include <system_error>

#include "util/text.hpp"
#endif

namespace files {

#ifdef _WIN32
namespace {

// UTF-16 to UTF-8 by hand, for a name u8string() refuses: Windows lets a file
// name hold a lone surrogate, and a name must still be shown.
std::string lossy_utf8(std::wstring_view wide) {
  const auto is_high = [](char32_t c) { return c >= 0xD800 && c <= 0xDBFF; };
  const auto is_low = [](char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; };
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<char16_t>(wide[i]);
    if (is_high(c) && i + 1 < wide.size() && is_low(static_cast<char16_t>(wide[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[++i]) - 0xDC00);
    } else if (is_high(c) || is_low(c)) {
      c = 0xFFFD;
    }
    text::append_utf8(out, c);
  }
  return out;
}

}  // namespace

std::filesystem::path utf8_path(std::string_view utf8) {
  // The conversion to UTF-16 throws on a bad sequence.
  if (!text::is_valid_utf8(utf8)) return utf8_path(text::to_valid_utf8(utf8));
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string path_text(const std::filesystem::path& path) {
  try {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
  } catch (const std::system_error&) {
    return lossy_utf8(path.native());
  }
}

std::string generic_path_text(const std::filesystem::path& path) {
  // No Windows name holds a backslash: every one is a separator.
  std::string text = path_text(path);
  std::ranges::replace(text, '\\', '/');
  return text;
}

#else

// libstdc++ copies char8_t text on POSIX too, but going by native() leaves
// nothing to a library's reading of UTF-8.
std::filesystem::path utf8_path(std::string_view utf8) {
  return std::filesystem::path(std::filesystem::path::string_type(utf8));
}

std::string path_text(const std::filesystem::path& path) { return path.native(); }

std::string generic_path_text(const std::filesystem::path& path) { return path.native(); }

#endif

std::string shown_path(const std::filesystem::path& root, const std::filesystem::path& relative) {
  // Joined as root / relative joins them: a path with a root of its own
  // stands alone, and a separator goes in only after a root that ends in a
  // name (not after "/", "C:" or an empty root).
  if (relative.has_root_path()) return generic_path_text(relative);
  std::string shown = path_text(root);
  if (root.has_filename()) shown += '/';
  shown += generic_path_text(relative);
  return shown;
}

}  // namespace files
