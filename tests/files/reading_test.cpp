#include "files/reading.hpp"

#include <gtest/gtest.h>

#include "support/memory_file_system.hpp"

namespace {

// Everything a reader hands out, and whether it ended well.
std::pair<std::string, bool> read_pieces(const std::string& content) {
  testing_support::MemoryFileSystem fs;
  fs.write("/f", content);
  auto file = fs.open_read("/", "f");
  files::Utf8Reader reader(**file);
  std::string all;
  for (auto piece = reader.next(); !piece.empty(); piece = reader.next()) all += piece;
  return {all, reader.ok()};
}

}  // namespace

// Pieces of a megabyte must never split a character, nor let a bad or cut
// sequence at a piece's edge pass.
TEST(Utf8ReaderTest, HandsOutWholeCharactersAndCatchesBadBytesAtAnyOffset) {
  const std::string straddling = std::string((1 << 20) - 1, 'a') + "中文" + std::string(10, 'b');
  EXPECT_EQ(read_pieces(straddling), std::make_pair(straddling, true));
  EXPECT_EQ(read_pieces(""), std::make_pair(std::string(), true));
  EXPECT_FALSE(read_pieces(straddling + "\xE4\xB8").second);  // cut by the end
  EXPECT_FALSE(read_pieces(std::string((1 << 20) - 1, 'a') + "\xFF" + "b").second);
  EXPECT_FALSE(read_pieces(std::string(1 << 20, 'a') + "\xED\xA0\x80").second);  // surrogate
}
