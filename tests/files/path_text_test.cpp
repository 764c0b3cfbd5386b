#include "files/path_text.hpp"

#include <gtest/gtest.h>

#if !defined(_WIN32)
// On POSIX a name is its bytes: none may change on the way in or out,
// whether or not they are UTF-8.
TEST(PathTextTest, NamesRoundTripByteForByte) {
  const std::string names[] = {"2026/07/2026-07-01-a.md", "工作区 ü/目标.md", "\xF0\x9F\x98\x80.md",
                               std::string("bad \xFF\xFE\xC3( \xED\xA0\x80\0x", 14)};
  for (const auto& name : names) {
    const auto path = files::utf8_path(name);
    EXPECT_EQ(path.native(), name);
    EXPECT_EQ(files::path_text(path), name);
    EXPECT_EQ(files::generic_path_text(path), name);
  }
}

// Messages showed root / relative before; on Linux they still must, whatever
// the root ends in.
TEST(PathTextTest, ShownPathIsTheJoinedPathOnPosix) {
  for (const char* root : {"", "/", ".", "ws", "ws/", "./工作区 ü//ws"}) {
    for (const char* relative : {"", "a.md", "2026//07/x.md", "/abs/y.md"}) {
      EXPECT_EQ(files::shown_path(files::utf8_path(root), files::utf8_path(relative)),
                (std::filesystem::path(root) / relative).native())
          << root << " + " << relative;
    }
  }
}
#else
// On Windows a name is UTF-16: UTF-8 goes in and comes out unchanged, a bad
// sequence going in and a lone surrogate coming out give U+FFFD, and every
// backslash parts names.
TEST(PathTextTest, NamesRoundTripThroughUtf16) {
  const struct {
    std::string in;
    std::wstring native;
    std::string out;
  } cases[] = {
      {"工作区 ü/目标.md", L"工作区 ü/目标.md", "工作区 ü/目标.md"},
      {"\xF0\x9F\x98\x80.md", L"\U0001F600.md", "\xF0\x9F\x98\x80.md"},
      {"bad \xFF.md", L"bad \uFFFD.md", "bad \xEF\xBF\xBD.md"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(files::utf8_path(c.in).native(), c.native) << c.in;
    EXPECT_EQ(files::path_text(files::utf8_path(c.in)), c.out) << c.in;
  }
  EXPECT_EQ(files::path_text(std::filesystem::path(std::wstring{wchar_t(0xD800), L'x'})),
            "\xEF\xBF\xBDx");
  EXPECT_EQ(files::generic_path_text(files::utf8_path("C:\\ws\\2026/07")), "C:/ws/2026/07");
  EXPECT_EQ(files::shown_path(files::utf8_path("C:\\ws"), files::utf8_path("2026\\x.md")),
            "C:\\ws/2026/x.md");
}
#endif
