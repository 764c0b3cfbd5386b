#include "files/tree.hpp"

#include "files/reading.hpp"
#include "util/text.hpp"

namespace files {

std::expected<void, std::string> Tree::create_directories(
    const std::filesystem::path& relative) const {
  if (auto made = fs_->create_directories(base_, relative); !made) {
    return std::unexpected(std::move(made.error().text));
  }
  return {};
}

std::expected<std::unique_ptr<ReadFile>, std::string> Tree::open_read(
    const std::filesystem::path& relative) const {
  auto file = fs_->open_read(base_, relative);
  if (!file) return std::unexpected(std::move(file.error().text));
  return std::move(*file);
}

std::expected<std::vector<DirEntry>, std::string> Tree::list(
    const std::filesystem::path& relative) const {
  auto listed = fs_->list(base_, relative);
  if (!listed) return std::unexpected(std::move(listed.error().text));
  return std::move(*listed);
}

std::expected<std::string, std::string> Tree::read(const std::filesystem::path& relative) const {
  const auto file = open_read(relative);
  if (!file) return std::unexpected(file.error());
  return read_all(**file);
}

std::expected<std::string, std::string> read_text(const Tree& tree,
                                                  const std::filesystem::path& relative) {
  auto bytes = tree.read(relative);
  if (bytes && !text::is_valid_utf8(*bytes)) return std::unexpected(std::string(kNotUtf8));
  return bytes;
}

}  // namespace files
