#include "util/fs.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>

#include "support/temp_dir.hpp"

using testing_support::TempDir;

namespace {

// Everything a reader hands out, and whether it ended well.
std::pair<std::string, bool> read_pieces(const TempDir& dir, const std::string& content) {
  dir.write("f", content);
  fsx::UniqueFd fd(::open((dir / "f").c_str(), O_RDONLY | O_CLOEXEC));
  fsx::Utf8Reader reader(fd.get());
  std::string all;
  for (auto piece = reader.next(); !piece.empty(); piece = reader.next()) all += piece;
  return {all, reader.ok()};
}

}  // namespace

// Pieces of a megabyte must never split a character, nor let a bad or cut
// sequence at a piece's edge pass.
TEST(Utf8ReaderTest, HandsOutWholeCharactersAndCatchesBadBytesAtAnyOffset) {
  TempDir dir;
  const std::string straddling = std::string((1 << 20) - 1, 'a') + "中文" + std::string(10, 'b');
  EXPECT_EQ(read_pieces(dir, straddling), std::make_pair(straddling, true));
  EXPECT_EQ(read_pieces(dir, ""), std::make_pair(std::string(), true));
  EXPECT_FALSE(read_pieces(dir, straddling + "\xE4\xB8").second);  // cut by the end
  EXPECT_FALSE(read_pieces(dir, std::string((1 << 20) - 1, 'a') + "\xFF" + "b").second);
  EXPECT_FALSE(read_pieces(dir, std::string(1 << 20, 'a') + "\xED\xA0\x80").second);  // surrogate
}
