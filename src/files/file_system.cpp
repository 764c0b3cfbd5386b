#include "files/file_system.hpp"

#include <fmt/format.h>

namespace files {

std::string too_large_text(std::uint64_t size, std::uint64_t max_bytes) {
  return fmt::format("文件过大（{} 字节，上限 {} MiB）", size, max_bytes >> 20);
}

}  // namespace files
