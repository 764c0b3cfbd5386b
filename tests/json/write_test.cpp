#include "json/write.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

using json::JsonStyle;
using json::JsonWriter;

namespace {

std::string format_float32(float value) {
  std::string out;
  json::append_float32(out, value);
  return out;
}

}  // namespace

TEST(FloatFormatTest, WholeNumbersCarryPointZero) {
  EXPECT_EQ(format_float32(80.0f), "80.0");
  EXPECT_EQ(format_float32(1.0f), "1.0");
  EXPECT_EQ(format_float32(0.0f), "0.0");
  EXPECT_EQ(format_float32(-0.0f), "-0.0");
  EXPECT_EQ(format_float32(1e12f), "1000000000000.0");
}

TEST(FloatFormatTest, ShortestDigitsThatReadBack) {
  EXPECT_EQ(format_float32(0.8f), "0.8");
  EXPECT_EQ(format_float32(2.3333333f), "2.3333333");
  EXPECT_EQ(format_float32(-12.5f), "-12.5");
  EXPECT_EQ(format_float32(0.000001f), "0.000001");
  EXPECT_EQ(format_float32(123456.7f), "123456.7");
}

TEST(FloatFormatTest, ExponentFormOutsidePlainRange) {
  EXPECT_EQ(format_float32(1e13f), "1e13");
  EXPECT_EQ(format_float32(1e16f), "1e16");
  EXPECT_EQ(format_float32(1e-7f), "1e-7");
  EXPECT_EQ(format_float32(1.5e-7f), "1.5e-7");
  EXPECT_EQ(format_float32(-3.4028235e38f), "-3.4028235e38");
}

TEST(FloatFormatTest, NonFiniteIsNull) {
  EXPECT_EQ(format_float32(std::numeric_limits<float>::infinity()), "null");
  EXPECT_EQ(format_float32(std::nanf("")), "null");
}

TEST(JsonWriterTest, PrettyFormMatchesTheFileConventions) {
  JsonWriter w(JsonStyle::Pretty);
  w.begin_object();
  w.member("name", "工作\"x\"\n");
  w.key("empty_list").begin_array().end_array();
  w.key("empty_object").begin_object().end_object();
  w.key("list").begin_array().string("a").uint(3).end_array();
  w.member_float("x", 168.0f);
  w.end_object();
  EXPECT_EQ(w.text(),
            "{\n"
            "  \"name\": \"工作\\\"x\\\"\\n\",\n"
            "  \"empty_list\": [],\n"
            "  \"empty_object\": {},\n"
            "  \"list\": [\n"
            "    \"a\",\n"
            "    3\n"
            "  ],\n"
            "  \"x\": 168.0\n"
            "}");
}

TEST(JsonWriterTest, CompactFormHasNoSpaces) {
  JsonWriter w(JsonStyle::Compact);
  w.begin_object().member("a", "b").key("c").begin_array().null().boolean(true).end_array();
  w.key("d").begin_object().end_object().end_object();
  EXPECT_EQ(w.text(), R"({"a":"b","c":[null,true],"d":{}})");
}

TEST(JsonWriterTest, EscapesControlCharactersOnly) {
  std::string out;
  json::append_json_string(out, std::string("\x01\t\\é/", 6));
  EXPECT_EQ(out, "\"\\u0001\\t\\\\é/\"");
}

TEST(JsonWriterTest, WritesParsedValuesInStoredOrder) {
  const auto sorted = nlohmann::json::parse(R"({"b": 1, "a": [], "c": {"z": 0.5}})");
  EXPECT_EQ(json::to_json_text(sorted),
            "{\n  \"a\": [],\n  \"b\": 1,\n  \"c\": {\n    \"z\": 0.5\n  }\n}");
  EXPECT_EQ(json::to_json_text(nlohmann::json::object()), "{}");
}
