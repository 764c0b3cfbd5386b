#include "files/windows_names.hpp"

#include <cctype>
#include <string>

namespace files {

bool windows_refuses_name(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"/\\|?*").contains(c)) {
      return true;
    }
  }
  if (name.ends_with('.') || name.ends_with(' ')) return name != "." && name != "..";
  std::string_view stem = name.substr(0, name.find('.'));
  while (stem.ends_with(' ')) stem.remove_suffix(1);
  const auto equals = [&](std::string_view reserved) {
    if (stem.size() != reserved.size()) return false;
    for (std::size_t i = 0; i < stem.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(stem[i])) != reserved[i]) return false;
    }
    return true;
  };
  for (const std::string_view reserved : {"CON", "PRN", "AUX", "NUL"}) {
    if (equals(reserved)) return true;
  }
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
    for (const std::string_view prefix : {"COM", "LPT"}) {
      if (equals(std::string(prefix) + stem[3])) return true;
    }
  }
  return false;
}

}  // namespace files
