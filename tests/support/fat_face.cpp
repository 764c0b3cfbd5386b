#include "support/fat_face.hpp"

#include <cerrno>
#include <system_error>

#include "files/path_text.hpp"
#include "util/text.hpp"

namespace testing_support {
namespace {

// As the kernel's FAT driver answers: "Invalid argument".
files::Error refused(files::ErrorKind kind) {
  return {kind, std::make_error_code(std::errc::invalid_argument).message()};
}

}  // namespace

FatFace::Path FatFace::spelled(const Path& base, const Path& relative) {
  Path found;
  for (const auto& part : relative) {
    auto name = part;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base / found, error)) {
      if (text::fold_case(files::path_text(entry.path().filename())) ==
          text::fold_case(files::path_text(part))) {
        name = entry.path().filename();
      }
    }
    found /= name;
  }
  return found;
}

std::expected<void, files::Error> FatFace::create_file(const Path& base, const Path& relative,
                                                       const files::Producer& produce) const {
  // On Windows a backslash only ever parts names.
  if (files::generic_path_text(relative).find_first_of(":*?\"<>|\\") != std::string::npos) {
    return std::unexpected(refused(files::ErrorKind::NameRefused));
  }
  return DiskFileSystem::create_file(base, spelled(base, relative), produce);
}

std::expected<void, files::Error> FatFace::rename(const Path& base, const Path& from,
                                                  const Path& to, bool keep_existing) const {
  if (keep_existing) return std::unexpected(refused(files::ErrorKind::Unsupported));
  return DiskFileSystem::rename(base, spelled(base, from), spelled(base, to), false);
}

}  // namespace testing_support
