#include "support/output_files.hpp"

namespace testing_support {

std::string bytes_of(const store::OutputFile& file) {
  if (const auto* bytes = std::get_if<std::string>(&file.content)) return *bytes;
  struct Collect final : store::ByteSink {
    void put(std::string_view bytes) override { text += bytes; }
    std::string text;
  } sink;
  std::get<store::Producer>(file.content)(sink);
  return sink.text;
}

std::map<std::string, std::string> contents(const store::OutputFiles& files) {
  std::map<std::string, std::string> out;
  for (const auto& file : files) out[file.path.lexically_normal().string()] = bytes_of(file);
  return out;
}

}  // namespace testing_support
