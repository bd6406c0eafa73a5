// SPDX-License-Identifier: MIT
// The chunk codes that change one plane line.
#include <algorithm>

#include "tests/gra/gra_test_support.h"

namespace {

class ChunkCodes : public ::testing::Test {
 protected:
  GraLoader loader;

  void escapes(std::uint8_t skip, std::uint8_t invert, std::uint8_t xorRun) {
    loader.header.skipCode = skip;
    loader.header.invertCode = invert;
    loader.header.xorRunCode = xorRun;
  }

  // Applies the chunk to a plane line in a heap buffer of exactly the plane line and its room
  // (so that the sanitizer sees any step outside it), from a buffer with the room after the
  // chunk, which holds bytes that would change the line if a code took them as arguments. The
  // room must be left as it was.
  std::vector<std::uint8_t> apply(const Bytes& chunk, std::uint8_t fill = 0) {
    std::vector<std::uint8_t> line(kGraPlaneLineRoom, 0xC3);
    std::fill_n(line.begin(), kPlaneLineBytes, fill);
    Bytes buffer = chunk;
    buffer.resize(chunk.size() + kGraChunkPadding, 0x5A);
    loader.applyPlaneChunk(line.data(), buffer.data(), static_cast<std::uint16_t>(chunk.size()));
    EXPECT_TRUE(std::all_of(line.begin() + kPlaneLineBytes, line.end(), [](std::uint8_t b) {
      return b == 0xC3;
    })) << "the room after the plane line was changed";
    line.resize(kPlaneLineBytes);
    return line;
  }

  // The positions that differ from fill, with their XOR against it.
  static std::vector<std::pair<int, int>> changes(const std::vector<std::uint8_t>& line,
                                                  std::uint8_t fill = 0) {
    std::vector<std::pair<int, int>> found;
    for (int i = 0; i < static_cast<int>(line.size()); ++i) {
      if (line[i] != fill) found.emplace_back(i, line[i] ^ fill);
    }
    return found;
  }
  using Changes = std::vector<std::pair<int, int>>;

  void SetUp() override { escapes(0xF0, 0xF1, 0xF2); }
};

TEST_F(ChunkCodes, EachCodeFromItsStartingOffset) {
  auto line = apply({0x05, 0xAA, 0xF0, 0x03, 0xF1, 0x02, 0xF2, 0x0F, 0x04});
  EXPECT_EQ(
      changes(line),
      (Changes{{5, 0xAA}, {9, 0xFF}, {10, 0xFF}, {11, 0x0F}, {12, 0x0F}, {13, 0x0F}, {14, 0x0F}}));
}

TEST_F(ChunkCodes, DoubledEscapeXorsItsOwnValue) {
  // Each doubled escape changes one byte and moves on, so 0x01 lands on the next byte.
  EXPECT_EQ(changes(apply({3, 0xF0, 0xF0, 0x01})), (Changes{{3, 0xF0}, {4, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0xF1, 0xF1, 0x01})), (Changes{{3, 0xF1}, {4, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0xF2, 0xF2, 0x01})), (Changes{{3, 0xF2}, {4, 0x01}}));
}

TEST_F(ChunkCodes, EmptyRunsNeitherChangeNorMove) {
  EXPECT_EQ(changes(apply({3, 0xF1, 0x00, 0x01})), (Changes{{3, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0xF2, 0x55, 0x00, 0x01})), (Changes{{3, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0xF0, 0x00, 0x01})), (Changes{{3, 0x01}}));
}

TEST_F(ChunkCodes, InvertingFlipsTheLineAsItIs) {
  auto line = apply({0, 0xF1, 3}, 0x0F);
  EXPECT_EQ(line[0], 0xF0);
  EXPECT_EQ(line[2], 0xF0);
  EXPECT_EQ(line[3], 0x0F);
}

TEST_F(ChunkCodes, DoubledEscapeIsTestedBeforeTheCount) {
  escapes(0xF0, 0x02, 0xF2);
  EXPECT_EQ(changes(apply({3, 0x02, 0x02, 0x01})), (Changes{{3, 0x02}, {4, 0x01}}));
}

TEST_F(ChunkCodes, EqualEscapeBytesActAsTheEarlierCode) {
  escapes(0x80, 0x80, 0x90);  // skip wins over invert
  EXPECT_EQ(changes(apply({0, 0x80, 0x03, 0x01})), (Changes{{3, 0x01}}));
  escapes(0x80, 0x90, 0x90);  // invert wins over XOR run: 5 inverted bytes, then 0x02 plain
  EXPECT_EQ(changes(apply({0, 0x90, 0x05, 0x02})),
            (Changes{{0, 0xFF}, {1, 0xFF}, {2, 0xFF}, {3, 0xFF}, {4, 0xFF}, {5, 0x02}}));
  escapes(0x90, 0x80, 0x90);  // skip wins over XOR run
  EXPECT_EQ(changes(apply({0, 0x90, 0x05, 0x02})), (Changes{{5, 0x02}}));
}

TEST_F(ChunkCodes, ZeroEscapeBytes) {
  // A doubled 0 is a change by 0 that moves one byte, not an empty code.
  escapes(0xF0, 0x00, 0xF2);
  EXPECT_EQ(changes(apply({3, 0x00, 0x00, 0x01})), (Changes{{4, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0x00, 0x02, 0x01})), (Changes{{3, 0xFF}, {4, 0xFF}, {5, 0x01}}));
  escapes(0x00, 0xF1, 0xF2);
  EXPECT_EQ(changes(apply({3, 0x00, 0x00, 0x01})), (Changes{{4, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0x00, 0x04, 0x01})), (Changes{{7, 0x01}}));
  escapes(0xF0, 0xF1, 0x00);
  EXPECT_EQ(changes(apply({3, 0x00, 0x00, 0x01})), (Changes{{4, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0x00, 0x05, 0x02, 0x01})),
            (Changes{{3, 0x05}, {4, 0x05}, {5, 0x01}}));
}

TEST_F(ChunkCodes, CodeCutShortByTheChunkEndChangesNothing) {
  EXPECT_EQ(changes(apply({3, 0x01, 0xF0})), (Changes{{3, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0x01, 0xF1})), (Changes{{3, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0x01, 0xF2})), (Changes{{3, 0x01}}));
  EXPECT_EQ(changes(apply({3, 0x01, 0xF2, 0x33})), (Changes{{3, 0x01}}));
  // The length counts the starting offset: lengths 0 and 1 change nothing.
  EXPECT_TRUE(changes(apply({})).empty());
  EXPECT_TRUE(changes(apply({7})).empty());
  // Bytes after the length are not codes of the chunk (the buffer has the room it needs).
  std::vector<std::uint8_t> line(kGraPlaneLineRoom, 0);
  std::vector<std::uint8_t> buffer(2 + kGraChunkPadding, 0);
  buffer[0] = 2;
  buffer[1] = 0x11;
  buffer[2] = 0x22;
  buffer[3] = 0x33;
  loader.applyPlaneChunk(line.data(), buffer.data(), 2);
  line.resize(kPlaneLineBytes);
  EXPECT_EQ(changes(line), (Changes{{2, 0x11}}));
}

TEST_F(ChunkCodes, LongStretchesOfPlainBytesBetweenCodes) {
  // Plain bytes from every starting offset, in stretches of every length up to the line's end
  // and beyond it, broken by runs: each byte lands on its own position, none past the line.
  for (int offset = 0; offset < 40; ++offset) {
    for (int stretch : {1, 7, 8, 9, 15, 16, 17, 31, 33, 100, 200}) {
      Bytes chunk{static_cast<std::uint8_t>(offset)};
      Changes expected;
      int position = offset;
      auto plain = [&](int count) {
        for (int k = 0; k < count; ++k, ++position) {
          const auto b = static_cast<std::uint8_t>(1 + (position * 7 + k) % 0xEF);  // no escapes
          chunk.push_back(b);
          if (position < kPlaneLineBytes) expected.emplace_back(position, b);
        }
      };
      plain(stretch);
      chunk.insert(chunk.end(), {0xF0, 3});  // skip 3
      position += 3;
      plain(stretch);
      chunk.insert(chunk.end(), {0xF0, 0xF0});  // a doubled escape between two stretches
      if (position < kPlaneLineBytes) expected.emplace_back(position, 0xF0);
      ++position;
      plain(254 - static_cast<int>(chunk.size()));
      ASSERT_EQ(changes(apply(chunk)), expected) << "offset " << offset << " stretch " << stretch;
    }
  }
}

TEST_F(ChunkCodes, NothingIsWrittenPastTheLine) {
  // A run that crosses the end stops there.
  EXPECT_EQ(changes(apply({158, 0xF2, 0x33, 0x05})), (Changes{{158, 0x33}, {159, 0x33}}));
  EXPECT_EQ(changes(apply({157, 0xF1, 200})), (Changes{{157, 0xFF}, {158, 0xFF}, {159, 0xFF}}));
  // Bytes placed past the end, after a skip or a run, or from an offset past it, are dropped.
  EXPECT_EQ(changes(apply({159, 0x01, 0x02, 0x03})), (Changes{{159, 0x01}}));
  EXPECT_EQ(changes(apply({150, 0xF0, 20, 0x01, 0xF1, 9})), Changes{});
  Changes toTheEnd;
  for (int i = 100; i < kPlaneLineBytes; ++i) toTheEnd.emplace_back(i, 0x44);
  EXPECT_EQ(changes(apply({100, 0xF2, 0x44, 255, 0x01})), toTheEnd);
  EXPECT_EQ(changes(apply({160, 0x01, 0xF1, 5})), Changes{});
  EXPECT_EQ(changes(apply({255, 0xF0, 0xF0, 0xF2, 0x01, 255})), Changes{});
}

}  // namespace
