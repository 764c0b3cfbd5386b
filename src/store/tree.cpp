#include "store/tree.hpp"

#include "util/text.hpp"

namespace store {

std::expected<std::string, std::string> Tree::read(const std::filesystem::path& relative) const {
  const auto fd = open_read(relative);
  if (!fd) return std::unexpected(fd.error());
  return fsx::read_all(fd->get());
}

std::expected<std::string, std::string> read_text(const Tree& tree,
                                                  const std::filesystem::path& relative) {
  auto bytes = tree.read(relative);
  if (bytes && !text::is_valid_utf8(*bytes)) return std::unexpected(std::string(fsx::kNotUtf8));
  return bytes;
}

}  // namespace store
