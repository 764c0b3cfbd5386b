#include "files/long_path.hpp"

#include <algorithm>

namespace files {

std::u16string extended_length_path(std::u16string_view full) {
  std::u16string path(full);
  std::ranges::replace(path, u'/', u'\\');
  if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) return path;
  if (path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + path.substr(2);
  return u"\\\\?\\" + path;
}

}  // namespace files
