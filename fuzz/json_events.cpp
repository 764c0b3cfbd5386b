// The event source of the state files against nlohmann::json::sax_parse, the
// parser the handlers were written for: the same inputs are accepted, with the
// same events and the same numbers to the bit, from text and from a file. The
// loaders' handlers see nothing else, so they load the same from either.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "files/reading.hpp"
#include "fuzz_input.hpp"
#include "json/read.hpp"
#include "util/text.hpp"

namespace {

struct Event {
  char kind;
  std::uint64_t value;
  std::string text;
  bool operator==(const Event&) const = default;
};

// Takes every event and keeps it; refuses only errors.
class Recorder final : public json::Events {
 public:
  std::vector<Event> events;

  bool null() override { return add('n'); }
  bool boolean(bool value) override { return add('b', value); }
  bool number_integer(number_integer_t value) override {
    return add('i', static_cast<std::uint64_t>(value));
  }
  bool number_unsigned(number_unsigned_t value) override { return add('u', value); }
  bool number_float(number_float_t value, const string_t& text) override {
    return add('f', std::bit_cast<std::uint64_t>(value), text);
  }
  bool string(string_t& value) override { return add('s', 0, value); }
  bool binary(binary_t&) override { return add('x'); }
  bool start_object(std::size_t size) override { return add('{', size); }
  bool key(string_t& value) override { return add('k', 0, value); }
  bool end_object() override { return add('}'); }
  bool start_array(std::size_t size) override { return add('[', size); }
  bool end_array() override { return add(']'); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool add(char kind, std::uint64_t value = 0, std::string text = {}) {
    events.push_back({kind, value, std::move(text)});
    return true;
  }
};

// The reading that state files had before, with its checks ahead of the
// parser. nlohmann ends the input at a '\0', so it took a value followed by
// one and by anything after that; such content after the value is refused now,
// as any other is. A '\0' anywhere else fails in nlohmann too.
bool reference_read(std::string_view text, Recorder& recorder) {
  if (text.starts_with(json::kByteOrderMark) || !text::is_valid_utf8(text)) return false;
  try {
    return nlohmann::json::sax_parse(text, &recorder) && !text.contains('\0');
  } catch (...) {
    return false;
  }
}

// `text` as an open file, read from its start in the pieces the reader asks
// for, as a file on disk would give them.
class TextFile final : public files::ReadFile {
 public:
  explicit TextFile(std::string_view text) : rest_(text) {}
  std::expected<std::size_t, files::Error> read(std::span<char> buffer) override {
    const std::size_t n = std::min(buffer.size(), rest_.size());
    std::copy_n(rest_.data(), n, buffer.data());
    rest_.remove_prefix(n);
    return n;
  }
  std::optional<files::FileIdentity> identity() const override { return std::nullopt; }

 private:
  std::string_view rest_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto text = fuzz::as_text(data, size);
  Recorder expected;
  const bool accepted = reference_read(text, expected);

  Recorder from_text;
  fuzz::check(json::read_events(text, from_text) == accepted,
              "the text is accepted as nlohmann accepts it");
  if (accepted)
    fuzz::check(from_text.events == expected.events, "the text gives nlohmann's events");

  // Each file read takes a fresh megabyte buffer, which costs hundreds of
  // text reads under ASan; one input in eight is enough for the file form.
  if (size % 8 != 0) return 0;
  TextFile file(text);
  files::Utf8Reader reader(file);
  Recorder from_file;
  fuzz::check(json::read_events(reader, from_file) == accepted,
              "the file is accepted as nlohmann accepts it");
  if (accepted)
    fuzz::check(from_file.events == expected.events, "the file gives nlohmann's events");

  return 0;
}
