#include "store/atomic.hpp"

#include <system_error>

#include "util/fs.hpp"

namespace store {

std::string StoreError::text() const {
  switch (kind) {
    case Kind::NotFound:
      return "文件不存在: " + subject;
    case Kind::Corrupt:
      return "文件损坏（解析失败）: " + subject + ": " + detail;
    case Kind::Io:
      return "IO 错误: " + subject;
    case Kind::Serialize:
      return "序列化失败: " + subject;
  }
  return subject;
}

std::expected<void, StoreError> write_atomic(const std::filesystem::path& path,
                                             std::string_view bytes) {
  if (path.has_parent_path()) {
    if (auto made = fsx::create_directories(path.parent_path()); !made) {
      return std::unexpected(StoreError::io(made.error()));
    }
  }
  // Fixed temporary name: a leftover from an interrupted run is simply
  // overwritten and renamed by the next write of the same target.
  std::filesystem::path temporary = path;
  temporary += ".tmp";
  if (auto written = fsx::write_plain(temporary, bytes); !written) {
    return std::unexpected(StoreError::io(written.error()));
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) return std::unexpected(StoreError::io(ec.message()));
  return {};
}

}  // namespace store
