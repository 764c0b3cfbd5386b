#include <gtest/gtest.h>

#include <string>

#include "files/long_path.hpp"
#include "files/windows_names.hpp"
#include "util/utf16.hpp"

namespace {

// Wine has no 260-character limit, so only the conversion itself can show a
// root that would break on Windows.
TEST(WindowsPathsTest, ExtendedLengthForm) {
  const struct {
    std::u16string full;
    std::u16string expected;
  } cases[] = {
      {u"C:\\Users\\我\\ws", u"\\\\?\\C:\\Users\\我\\ws"},
      {u"C:/Users/ws/2026", u"\\\\?\\C:\\Users\\ws\\2026"},
      {u"\\\\server\\share\\ws", u"\\\\?\\UNC\\server\\share\\ws"},
      {u"\\\\?\\C:\\already", u"\\\\?\\C:\\already"},
      {u"\\\\.\\pipe\\x", u"\\\\.\\pipe\\x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files::extended_length_path(c.full), c.expected) << text::utf8_from_utf16(c.full);
  }
}

TEST(WindowsPathsTest, NamesWindowsRefuses) {
  for (const char* name :
       {"CON",  "con",       "Con.md",  "NUL.txt", "aux",   "PRN.x.y", "COM1",      "com9.md",
        "LPT1", "lpt9.json", "CON .md", "Plan.",   "Plan ", "a.md.",   "Plan:x.md", "a<b",
        "a>b",  "a\"b",      "a|b",     "a?b",     "a*b",   "a\\b",    "a\x1f"}) {
    EXPECT_TRUE(files::windows_refuses_name(name)) << name;
  }
  for (const char* name : {"CONSOLE", "COM0", "COM10", "LPT", "NULL.md", "学习", ".system", "..",
                           ".", "_index.md", "a.b"}) {
    EXPECT_FALSE(files::windows_refuses_name(name)) << name;
  }
}

// A lone surrogate in a name or an argument must not turn into a valid
// character: it becomes bytes the UTF-8 checks refuse.
TEST(WindowsPathsTest, Utf16RoundTripAndLoneSurrogates) {
  const std::u16string text = u"工作区 ü 😀 a";
  EXPECT_EQ(text::utf16_from_utf8(text::utf8_from_utf16(text)), text);
  EXPECT_EQ(text::utf8_from_utf16(u"😀"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(text::utf8_from_utf16(std::u16string(1, char16_t{0xD800}) + u"a"),
            "\xED\xA0\x80"
            "a");
  EXPECT_EQ(text::utf8_from_utf16(std::u16string(1, char16_t{0xDC00})), "\xED\xB0\x80");
  EXPECT_EQ(text::utf16_from_utf8("a\xFF"), u"a\uFFFD");
}

}  // namespace
