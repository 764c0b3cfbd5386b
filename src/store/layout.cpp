#include "store/layout.hpp"

#include "util/fs.hpp"

namespace store {

std::filesystem::path system_dir(const std::filesystem::path& root) { return root / ".system"; }
std::filesystem::path goals_dir(const std::filesystem::path& root) {
  return system_dir(root) / "goals";
}
std::filesystem::path topics_dir(const std::filesystem::path& root) {
  return system_dir(root) / "topics";
}
std::filesystem::path stats_dir(const std::filesystem::path& root) {
  return system_dir(root) / "stats";
}
std::filesystem::path snapshots_dir(const std::filesystem::path& root) {
  return stats_dir(root) / "snapshots";
}
std::filesystem::path graph_path(const std::filesystem::path& root) {
  return system_dir(root) / "graph.json";
}
std::filesystem::path record_topics_path(const std::filesystem::path& root) {
  return system_dir(root) / "record_topics.json";
}
std::filesystem::path metrics_path(const std::filesystem::path& root) {
  return system_dir(root) / "metrics.json";
}
std::filesystem::path summary_dir(const std::filesystem::path& root) { return root / "summary"; }

std::expected<void, std::string> ensure_system_dirs(const std::filesystem::path& root) {
  for (const auto& dir : {system_dir(root), goals_dir(root), topics_dir(root), stats_dir(root)}) {
    if (auto made = fsx::create_directories(dir); !made) {
      return std::unexpected("创建 .system 目录失败: " + made.error());
    }
  }
  return {};
}

}  // namespace store

namespace store {

bool is_unsafe_name(std::string_view name) {
  if (name == "_index") return true;
  const std::string relative = std::string(name) + ".md";
  if (relative.starts_with('/')) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = relative.find('/', start);
    const auto segment = std::string_view(relative).substr(
        start, slash == std::string::npos ? std::string::npos : slash - start);
    if (segment == "..") return true;
    if (slash == std::string::npos) return false;
    start = slash + 1;
  }
}

}  // namespace store
