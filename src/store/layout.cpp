#include "store/layout.hpp"

#include "store/tree.hpp"

namespace store {

std::filesystem::path system_dir(const std::filesystem::path& root) { return root / kSystemDir; }
std::filesystem::path goals_dir(const std::filesystem::path& root) { return root / kGoalsDir; }
std::filesystem::path topics_dir(const std::filesystem::path& root) { return root / kTopicsDir; }
std::filesystem::path stats_dir(const std::filesystem::path& root) { return root / kStatsDir; }
std::filesystem::path snapshots_dir(const std::filesystem::path& root) {
  return root / kSnapshotsDir;
}
std::filesystem::path graph_path(const std::filesystem::path& root) { return root / kGraphFile; }
std::filesystem::path record_topics_path(const std::filesystem::path& root) {
  return root / kRecordTopicsFile;
}
std::filesystem::path metrics_path(const std::filesystem::path& root) {
  return root / kMetricsFile;
}
std::filesystem::path summary_dir(const std::filesystem::path& root) { return root / kSummaryDir; }

std::expected<void, std::string> ensure_system_dirs(const std::filesystem::path& root) {
  const Tree tree(root);
  for (const auto dir : {kSystemDir, kGoalsDir, kTopicsDir, kStatsDir}) {
    if (auto made = tree.create_directories(dir); !made) {
      return std::unexpected("创建 .system 目录失败: " + made.error());
    }
  }
  return {};
}

bool is_unsafe_name(std::string_view name) {
  // The longest name a file system entry may have, in bytes.
  constexpr std::size_t kMaxSegmentBytes = 255;
  constexpr std::string_view kTemporarySuffix = ".md.tmp";
  if (name == "_index" || name.find('\0') != std::string_view::npos) return true;
  const std::string relative = std::string(name) + std::string(kTemporarySuffix);
  if (relative.starts_with('/')) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = relative.find('/', start);
    const auto segment = std::string_view(relative).substr(
        start, slash == std::string::npos ? std::string::npos : slash - start);
    if (segment == "..") return true;
    if (segment.size() > kMaxSegmentBytes) return true;
    if (slash == std::string::npos) return false;
    start = slash + 1;
  }
}

}  // namespace store
