#include "json/read.hpp"

#include <bit>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/memory_file_system.hpp"

namespace {

// Every event as one line of text, floats by their bits.
class Recorder final : public json::Events {
 public:
  std::vector<std::string> events;
  bool null() override { return add("null"); }
  bool boolean(bool v) override { return add(v ? "true" : "false"); }
  bool number_integer(number_integer_t v) override { return add("int " + std::to_string(v)); }
  bool number_unsigned(number_unsigned_t v) override { return add("uint " + std::to_string(v)); }
  bool number_float(number_float_t v, const string_t&) override {
    return add("float " + std::to_string(std::bit_cast<std::uint64_t>(v)));
  }
  bool string(string_t& v) override { return add("string " + v); }
  bool binary(binary_t&) override { return add("binary"); }
  bool start_object(std::size_t) override { return add("{"); }
  bool key(string_t& v) override { return add("key " + v); }
  bool end_object() override { return add("}"); }
  bool start_array(std::size_t) override { return add("["); }
  bool end_array() override { return add("]"); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  bool add(std::string event) {
    events.push_back(std::move(event));
    return true;
  }
};

std::string bits(double v) { return "float " + std::to_string(std::bit_cast<std::uint64_t>(v)); }

// The events of `text`, or "refused".
std::vector<std::string> events_of(const std::string& text) {
  Recorder recorder;
  if (!json::read_events(text, recorder)) return {"refused"};
  return recorder.events;
}

TEST(JsonReadTest, NumbersTakeNlohmannsKindsAndValues) {
  const std::string long_integer = "1" + std::string(400, '0') + "e-300";
  const std::pair<std::string, std::string> cases[] = {
      {"-0", "int 0"},
      {"-9223372036854775808", "int -9223372036854775808"},
      {"-9223372036854775809", bits(-9223372036854775809.0)},
      {"18446744073709551615", "uint 18446744073709551615"},
      {"18446744073709551616", bits(18446744073709551616.0)},
      {"-0.0", bits(-0.0)},
      // RapidJSON itself bounds the exponent and the integer part.
      {"0e400", bits(0.0)},
      {long_integer, bits(1e100)},
      {"1e-400", bits(0.0)},
      {"4.9e-324", bits(4.9e-324)},
      {"1.0000000596046448", bits(1.0000000596046448)},
  };
  for (const auto& [text, event] : cases) {
    EXPECT_EQ(events_of(text), std::vector<std::string>{event}) << text;
  }
}

TEST(JsonReadTest, RefusesWhatNlohmannRefuses) {
  for (const std::string& text : std::vector<std::string>{"",
                                                          " ",
                                                          "1e400",
                                                          "-1e309",
                                                          "01",
                                                          "[1,]",
                                                          "{\"a\":1,}",
                                                          "[1]/**/",
                                                          "NaN",
                                                          "-Infinity",
                                                          "\"\\udc00\"",
                                                          "{\"\\udfff\":1}",
                                                          "\"\\ud800\"",
                                                          "\"\\ud800\\u0041\"",
                                                          "\"a\tb\"",
                                                          "\xEF\xBB\xBF{}",
                                                          "[1] 2",
                                                          std::string("[1]\0", 4),
                                                          std::string("[\0]", 3),
                                                          "\"\xC3\"",
                                                          std::string(1000000, '[')}) {
    EXPECT_EQ(events_of(text), std::vector<std::string>{"refused"}) << text.substr(0, 20);
  }
  Recorder deep;
  EXPECT_TRUE(json::read_events(std::string(1000000, '[') + std::string(1000000, ']'), deep));
}

// The file is read a megabyte at a time: every token cut at every place by the
// edge of a piece reads as it does whole.
TEST(JsonReadTest, TokensCutBetweenPiecesReadWhole) {
  constexpr std::size_t kPiece = 1 << 20;
  for (const std::string token : {"-12.5e+3", "\"\\u00e9\\ud83d\\ude00\\n\"", "true", "null",
                                  "18446744073709551616", "\"\xE4\xB8\xAD\""}) {
    for (std::size_t cut = 1; cut < token.size(); ++cut) {
      const std::string text = "[" + std::string(kPiece - 1 - cut, ' ') + token + "]";
      testing_support::MemoryFileSystem fs;
      fs.write("/f", text);
      auto file = fs.open_read("/", "f");
      ASSERT_TRUE(file);
      files::Utf8Reader reader(**file);
      Recorder recorder;
      EXPECT_TRUE(json::read_events(reader, recorder)) << token << " " << cut;
      EXPECT_EQ(recorder.events, events_of(text)) << token << " " << cut;
    }
  }
}

}  // namespace
