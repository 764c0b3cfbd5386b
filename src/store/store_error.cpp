#include "store/store_error.hpp"


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

}  // namespace store
