#include "support/graph_text.hpp"

#include <algorithm>
#include <cstring>

#include "files/reading.hpp"
#include "graph/graph_file.hpp"
#include "support/output_files.hpp"

namespace testing_support {
namespace {

class TextFile final : public files::ReadFile {
 public:
  TextFile(std::string_view text, std::size_t piece)
      : rest_(text), piece_(std::max<std::size_t>(piece, 1)) {}

  std::expected<std::size_t, files::Error> read(std::span<char> buffer) override {
    const std::size_t n = std::min({buffer.size(), piece_, rest_.size()});
    std::memcpy(buffer.data(), rest_.data(), n);
    rest_.remove_prefix(n);
    return n;
  }
  std::optional<files::FileIdentity> identity() const override { return std::nullopt; }

 private:
  std::string_view rest_;
  std::size_t piece_;
};

}  // namespace

std::optional<graph::Graph> parse_graph(std::string_view text, std::size_t piece) {
  TextFile file(text, piece);
  files::Utf8Reader reader(file);
  return graph::read_graph(reader);
}

std::string graph_text(const graph::Graph& graph) { return bytes_of(graph::graph_file(graph)); }

}  // namespace testing_support
