#include "support/folding_file_system.hpp"

#include <system_error>

#include "util/text.hpp"

namespace testing_support {

std::filesystem::path FoldingFileSystem::spelled(const std::filesystem::path& base,
                                                 const std::filesystem::path& relative) {
  std::filesystem::path found;
  for (const auto& part : relative) {
    auto name = part;
    const auto folded = text::fold_case(part.native());
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base / found, error)) {
      if (text::fold_case(entry.path().filename().native()) == folded) {
        name = entry.path().filename();
        break;
      }
    }
    found /= name;
  }
  return found;
}

}  // namespace testing_support
