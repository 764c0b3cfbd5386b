#include "graph/record_topics.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "files/held_text.hpp"
#include "json/read.hpp"
#include "json/write.hpp"
#include "store/layout.hpp"

namespace graph {

namespace {

using nlohmann::json;

// Reads the file event by event: one object whose values are all arrays of
// strings. Anything else ends the parse.
class RecordTopicsReader final : public nlohmann::json_sax<json> {
 public:
  RecordTopics take() { return std::move(map_); }

  bool null() override { return false; }
  bool boolean(bool) override { return false; }
  bool number_integer(number_integer_t) override { return false; }
  bool number_unsigned(number_unsigned_t) override { return false; }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool binary(binary_t&) override { return false; }

  bool string(string_t& value) override {
    if (state_ != State::List) return false;
    list_.push_back(std::move(value));
    return true;
  }
  bool start_object(std::size_t) override {
    if (state_ != State::Start) return false;
    state_ = State::Map;
    return true;
  }
  bool key(string_t& name) override {
    key_ = std::move(name);
    return true;
  }
  bool end_object() override {
    state_ = State::Done;
    return true;
  }
  bool start_array(std::size_t) override {
    if (state_ != State::Map) return false;
    state_ = State::List;
    list_.clear();
    return true;
  }
  bool end_array() override {
    map_.insert_or_assign(std::move(key_), std::move(list_));
    list_ = {};
    state_ = State::Map;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  enum class State { Start, Map, List, Done };
  State state_ = State::Start;
  std::string key_;
  std::vector<std::string> list_;
  RecordTopics map_;
};

}  // namespace

std::optional<RecordTopics> parse_record_topics(std::string_view text) {
  RecordTopicsReader reader;
  if (!::json::read_events(text, reader)) return std::nullopt;
  return reader.take();
}

RecordTopics load_record_topics(store::Workspace& workspace) {
  return workspace.load_state<RecordTopics>(store::kRecordTopicsFile, parse_record_topics);
}

std::string record_topics_to_json(const RecordTopics& map) {
  ::json::JsonWriter w(::json::JsonStyle::Pretty);
  w.begin_object();
  for (const auto& [file_name, topics] : map) w.member_strings(file_name, topics);
  w.end_object();
  return w.take();
}

// Rewriting the file after every changed record would leave the same bytes as
// one write at the end, because each write stores the whole map and the next
// record reads it back; so the map is loaded and written once, and written
// exactly when some record's entry differed at its turn.
std::optional<files::OutputFile> record_topics_file(
    RecordTopics map, const std::vector<journal::JournalEntry>& records) {
  bool changed = false;
  for (const auto& record : records) {
    if (record.topics.empty()) continue;
    const auto [it, added] = map.try_emplace(record.file_name);
    if (added || it->second != record.topics) {
      it->second = record.topics;
      changed = true;
    }
  }
  if (!changed) return std::nullopt;
  // The map of a large journal is twice the size of its text: each entry goes
  // as soon as it is written, so the two never stand whole side by side.
  files::HeldText text;
  ::json::JsonWriter w(::json::JsonStyle::Pretty, text);
  w.begin_object();
  for (auto it = map.begin(); it != map.end(); it = map.erase(it)) {
    w.member_strings(it->first, it->second);
  }
  w.end_object().flush();
  return files::OutputFile{files::FileClass::State,
                           std::string(store::kRecordTopicsFile),
                           files::HeldText::producer(std::move(text)),
                           "写入 record_topics.json 失败: IO 错误: ",
                           {}};
}

}  // namespace graph
