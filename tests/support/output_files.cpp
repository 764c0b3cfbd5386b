#include "support/output_files.hpp"

#include "files/path_text.hpp"

namespace testing_support {

std::string bytes_of(const files::OutputFile& file) {
  if (const auto* bytes = std::get_if<std::string>(&file.content)) return *bytes;
  struct Collect final : files::ByteSink {
    void put(std::string_view bytes) override { text += bytes; }
    std::string text;
  } sink;
  std::get<files::Producer>(file.content)(sink);
  return sink.text;
}

std::map<std::string, std::string> contents(const files::OutputFiles& files) {
  std::map<std::string, std::string> out;
  for (const auto& file : files)
    out[files::generic_path_text(file.path.lexically_normal())] = bytes_of(file);
  return out;
}

}  // namespace testing_support
