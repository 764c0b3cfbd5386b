#include "util/fallbacks.hpp"

#include <cstdlib>
#include <string_view>

namespace fallbacks {

bool forced() {
  static const bool value = [] {
    const char* setting = std::getenv("BACKFILL_PORTABLE_FALLBACKS");
    return setting != nullptr && std::string_view(setting) == "1";
  }();
  return value;
}

}  // namespace fallbacks
