#include "store/metrics.hpp"

#include <array>
#include <nlohmann/json.hpp>

#include "json/read.hpp"
#include "json/write.hpp"
#include "store/layout.hpp"

namespace store {
namespace {

constexpr std::array<const char*, 4> kKeys = {"records", "organizeCalls", "organizeAdopted",
                                              "graphEdits"};

std::uint64_t* field(Metrics& metrics, std::size_t index) {
  switch (index) {
    case 0:
      return &metrics.records;
    case 1:
      return &metrics.organize_calls;
    case 2:
      return &metrics.organize_adopted;
    default:
      return &metrics.graph_edits;
  }
}

// Reads the one top-level object event by event: the DOM would keep the last
// of two equal keys silently and accept fractions for integers.
class MetricsReader : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit MetricsReader(Metrics& out) : out_(out) {}
  bool ok() const { return ok_; }

  bool null() override { return scalar(false, 0); }
  bool boolean(bool) override { return scalar(false, 0); }
  bool number_integer(number_integer_t) override { return scalar(false, 0); }
  bool number_unsigned(number_unsigned_t value) override { return scalar(true, value); }
  bool number_float(number_float_t, const string_t&) override { return scalar(false, 0); }
  bool string(string_t&) override { return scalar(false, 0); }
  bool binary(binary_t&) override { return scalar(false, 0); }

  bool start_object(std::size_t) override { return open(); }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override {
    if (depth_ == 0) return fail();
    return open();
  }
  bool end_array() override { return close(); }

  bool key(string_t& name) override {
    if (depth_ != 1) return true;
    current_ = -1;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
      if (name == kKeys[i]) {
        if (seen_[i]) return fail();
        seen_[i] = true;
        current_ = static_cast<int>(i);
      }
    }
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return fail();
  }

 private:
  bool fail() {
    ok_ = false;
    return false;
  }
  bool open() {
    // A container as the value of a counter is a type mismatch.
    if (depth_ == 1 && current_ >= 0) return fail();
    ++depth_;
    return true;
  }
  bool close() {
    --depth_;
    return true;
  }
  bool scalar(bool is_unsigned, std::uint64_t value) {
    if (depth_ == 0) return fail();
    if (depth_ == 1 && current_ >= 0) {
      if (!is_unsigned) return fail();
      *field(out_, static_cast<std::size_t>(current_)) = value;
    }
    return true;
  }

  Metrics& out_;
  std::array<bool, 4> seen_{};
  int depth_ = 0;
  int current_ = -1;
  bool ok_ = true;
};

}  // namespace

std::optional<Metrics> parse_metrics(std::string_view text) {
  Metrics metrics;
  MetricsReader reader(metrics);
  if (!json::read_events(text, reader) || !reader.ok()) return std::nullopt;
  return metrics;
}

Metrics load_metrics(Workspace& workspace) {
  return workspace.load_state<Metrics>(kMetricsFile, parse_metrics);
}

std::string metrics_to_json(const Metrics& metrics) {
  json::JsonWriter writer;
  writer.begin_object();
  writer.member_uint("records", metrics.records);
  writer.member_uint("organizeCalls", metrics.organize_calls);
  writer.member_uint("organizeAdopted", metrics.organize_adopted);
  writer.member_uint("graphEdits", metrics.graph_edits);
  writer.end_object();
  return writer.take();
}

files::OutputFile metrics_file(const Metrics& metrics) {
  return {files::FileClass::State,
          std::string(kMetricsFile),
          metrics_to_json(metrics),
          "写入 metrics 失败: IO 错误: ",
          {}};
}

}  // namespace store
