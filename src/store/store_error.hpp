#pragma once

// The store's error kinds with the texts callers embed in their own messages.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "files/tree.hpp"

namespace store {

struct StoreError {
  enum class Kind { NotFound, Corrupt, Io, Serialize };
  Kind kind;
  // NotFound and Corrupt: the path; Io: the system's error text; Serialize: the
  // encoder's message.
  std::string subject;
  // Corrupt only: what was wrong with the content.
  std::string detail;

  static StoreError not_found(std::string path) { return {Kind::NotFound, std::move(path), {}}; }
  static StoreError corrupt(std::string path, std::string detail) {
    return {Kind::Corrupt, std::move(path), std::move(detail)};
  }
  static StoreError io(std::string message) { return {Kind::Io, std::move(message), {}}; }
  static StoreError serialize(std::string message) {
    return {Kind::Serialize, std::move(message), {}};
  }

  // The text shown to the user, for example "IO 错误: Permission denied".
  std::string text() const;
};

}  // namespace store
