#include "store/state_file.hpp"

#include <chrono>

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <fmt/ostream.h>

#include "store/atomic.hpp"

namespace store {

std::filesystem::path kept_copy_path(const std::filesystem::path& relative) {
  const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  auto copy = relative;
  copy += fmt::format(".bad-{:%Y%m%dT%H%M%SZ}", fmt::gmtime(now));
  return copy;
}

namespace {

std::expected<void, std::string> keep_copy(const Tree& tree, const std::filesystem::path& relative,
                                           std::ostream& err) {
  // The note application may have mended or removed it since the load.
  if (tree.kind(relative) == EntryKind::Missing) return {};
  const auto copy = kept_copy_path(relative);
  const auto fail = [&](const std::string& reason) {
    return std::unexpected("保留副本失败: " + tree.shown(copy).string() + ": " + reason);
  };
  const auto bytes = tree.read(relative);
  if (!bytes) return fail(bytes.error());
  if (auto written = tree.write_atomic(copy, *bytes, Durability::Durable); !written) {
    return fail(written.error());
  }
  fmt::print(err, "[warn] 无法读取 {}，已保留副本: {}\n", tree.shown(relative).string(),
             tree.shown(copy).string());
  return {};
}

}  // namespace

std::expected<void, std::string> save_state(const Tree& tree,
                                            const std::filesystem::path& relative,
                                            std::string_view bytes, Found found,
                                            std::string_view failure_prefix, std::ostream& err) {
  if (found == Found::Unreadable) {
    if (auto kept = keep_copy(tree, relative, err); !kept) return kept;
  }
  if (auto written = write_atomic(tree, relative, bytes, Durability::Durable); !written) {
    return std::unexpected(std::string(failure_prefix) + written.error().text());
  }
  return {};
}

}  // namespace store
