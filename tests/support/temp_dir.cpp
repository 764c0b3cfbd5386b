#include "support/temp_dir.hpp"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "files/path_text.hpp"

namespace testing_support {

TempDir::TempDir() {
  std::random_device device;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("backfill-test-" + std::to_string(device()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only directories behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::operator/(const std::string& relative) const {
  return path_ / files::utf8_path(relative);
}

void TempDir::write(const std::string& relative, std::string_view content) const {
  write(files::utf8_path(relative), content);
}

std::string TempDir::read(const std::string& relative) const {
  return read(files::utf8_path(relative));
}

bool TempDir::exists(const std::string& relative) const {
  return exists(files::utf8_path(relative));
}

void TempDir::write(const std::filesystem::path& relative, std::string_view content) const {
  const auto target = path_ / relative;
  std::filesystem::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string TempDir::read(const std::filesystem::path& relative) const {
  std::ifstream in(path_ / relative, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TempDir::exists(const std::filesystem::path& relative) const {
  return std::filesystem::exists(path_ / relative);
}

}  // namespace testing_support
