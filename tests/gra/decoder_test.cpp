// SPDX-License-Identifier: MIT
// The line-pair decoder: pair flags, windows, the fourth plane, progress and short data.
#include "tests/gra/gra_test_support.h"

namespace {

std::uint8_t pixel(const Decoded& decoded, int x, int y) {
  return decoded.pixels[static_cast<std::size_t>(y) * kPictureWidth + x];
}

// Pixel values of a decoded picture that are not 0, as (x, y) -> value, for small pictures.
bool onlyRowsSet(const Decoded& decoded, int firstRow, int endRow) {
  for (int y = 0; y < kPictureHeight; ++y) {
    if (y >= firstRow && y < endRow) continue;
    for (int x = 0; x < kPictureWidth; ++x) {
      if (pixel(decoded, x, y) != 0) return false;
    }
  }
  return true;
}

// One byte 0xFF of a plane line: 4 pixels of both rows of the pair.
const Bytes kSetByte0 = {0, 0xFF};

TEST(PairFlags, SourcesOfPlanes1And2) {
  // Pair 0 sets byte 0 of plane 0, byte 1 of plane 1, byte 2 of plane 2; pair 1 then sets
  // bytes 3, 4, 5 of planes 0, 1, 2 after the copies its flag byte orders. Expected: the values
  // of the 4-pixel groups 0 to 5 of pair 1.
  struct Case {
    std::uint8_t flags;
    std::array<int, 6> values;
  };
  const Case cases[] = {
      {0x14, {1, 2, 4, 1, 2, 4}},                              // every plane from its own contents
      {0x04, {1, 6, 0, 1, 6, 4}},                              // plane 2 from the new plane 1
      {0x34, {1, 6, 0, 1, 6, 4}}, {0x24, {5, 2, 0, 5, 2, 4}},  // plane 2 from the new plane 0
      {0x01, {7, 0, 0, 7, 6, 4}},  // plane 1 from plane 0, plane 2 from plane 1
      {0x40, {7, 0, 0, 7, 6, 4}}, {0xBC, {7, 0, 0, 7, 6, 4}},
      {0x18, {3, 0, 4, 3, 2, 4}},  // plane 1 from plane 0, plane 2 its own
      {0x1C, {3, 0, 4, 3, 2, 4}}, {0x28, {7, 0, 0, 7, 2, 4}},  // both from plane 0
  };
  for (const Case& c : cases) {
    GraFileBuilder builder;
    builder.pair(0x14, {0, 0xFF}, {1, 0xFF}, {2, 0xFF});
    builder.pair(c.flags, {3, 0xFF}, {4, 0xFF}, {5, 0xFF});
    Decoded decoded = decodeMemory(withRepeatsTo(builder, 2));
    ASSERT_EQ(decoded.result, LoaderResult::Ok);
    for (int j = 0; j < 6; ++j) {
      for (int y : {2, 3, 4, 5}) {  // pair 1, and pair 2 that repeats it
        for (int x = 4 * j; x < 4 * j + 4; ++x) {
          ASSERT_EQ(pixel(decoded, x, y), c.values[j])
              << "flags " << int{c.flags} << " pixel " << x << "," << y;
        }
      }
    }
    EXPECT_EQ(pixel(decoded, 0, 0), 1);
    EXPECT_EQ(pixel(decoded, 4, 1), 2);
    EXPECT_EQ(pixel(decoded, 8, 0), 4);
    EXPECT_EQ(pixel(decoded, 24, 3), 0);
    EXPECT_EQ(pixel(decoded, 0, 399), c.values[0]) << "the last pair repeats pair 1";
  }
}

TEST(PairFlags, CopiesOfPlane0AloneGiveColours0And7) {
  GraFileBuilder builder;
  builder.pair(0x14, {0, 0x5A, 0xF2, 0x3C, 100}, {7, 0xFF}, {9, 0xF1, 40});
  builder.pair(0x01, {0}, {0}, {0});
  Decoded decoded = decodeMemory(withRepeatsTo(builder, 2));
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  int sevens = 0;
  for (int y : {2, 3}) {
    for (int x = 0; x < kPictureWidth; ++x) {
      ASSERT_TRUE(pixel(decoded, x, y) == 0 || pixel(decoded, x, y) == 7) << x;
      sevens += pixel(decoded, x, y) == 7;
    }
  }
  EXPECT_EQ(sevens, 4 + 100 * 4);
}

TEST(PairFlags, PlaneLinesCarryOverRepeatedPairs) {
  GraFileBuilder builder;
  builder.pair(0x14, {0, 0xF1, 160}, {}, {});  // plane 0 all set
  builder.repeat(5);
  builder.pair(0x14, {10, 0xFF}, {}, {});  // byte 10 flips back
  Decoded decoded = decodeMemory(withRepeatsTo(builder, 7));
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  EXPECT_EQ(pixel(decoded, 40, 11), 1);
  EXPECT_EQ(pixel(decoded, 40, 12), 0);
  EXPECT_EQ(pixel(decoded, 39, 399), 1);
  EXPECT_EQ(pixel(decoded, 44, 399), 1);
  EXPECT_EQ(pixel(decoded, 40, 399), 0);
}

TEST(Window, TopAndBottomInLinePairs) {
  GraFileBuilder builder;
  builder.window(0, 0, 10, 20);
  builder.pair(0x14, {0, 0xF1, 160}, {}, {});
  builder.repeat(9);
  ProgressLog log;
  Decoded decoded = decodeMemory(builder.bytes(), &log);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  for (int y = 20; y < 40; ++y) {
    for (int x = 0; x < kPictureWidth; x += 7) ASSERT_EQ(pixel(decoded, x, y), 1) << y;
  }
  EXPECT_TRUE(onlyRowsSet(decoded, 20, 40));
  EXPECT_EQ(log.done(), (std::vector<int>{0, 32, 400}));
}

TEST(Window, LeftAndRightInColumnsOf8Pixels) {
  GraFileBuilder builder;
  builder.window(10, 12, 0, 1);
  // Six bytes set, four merged: the window is 2 columns, 4 plane bytes, wide.
  builder.pair(0x14, {0, 0xF1, 6}, {}, {});
  Decoded decoded = decodeMemory(builder.bytes());
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  for (int x = 0; x < kPictureWidth; ++x) {
    int expected = x >= 80 && x < 96 ? 1 : 0;
    ASSERT_EQ(pixel(decoded, x, 0), expected) << x;
    ASSERT_EQ(pixel(decoded, x, 1), expected) << x;
  }
  EXPECT_TRUE(onlyRowsSet(decoded, 0, 2));
}

TEST(Window, OnlyLayoutMode2TurnsItOn) {
  GraFileBuilder builder;
  builder.pair(0x14, {0, 0xF1, 160}, {}, {});
  builder.window(3, 5, 7, 9, 0x21);
  Decoded off = decodeMemory(withRepeatsTo(builder, 1));
  ASSERT_EQ(off.result, LoaderResult::Ok);
  EXPECT_EQ(pixel(off, 0, 0), 1);
  EXPECT_EQ(pixel(off, 639, 399), 1);

  builder.window(0, 0, 0, 0, 0x12);  // all fields 0: the whole picture
  Decoded whole = decodeMemory(withRepeatsTo(builder, 1));
  ASSERT_EQ(whole.result, LoaderResult::Ok);
  EXPECT_EQ(whole.pixels, off.pixels);
}

TEST(Window, FieldsOutOfRangeFallBackToTheEdges) {
  auto picture = std::make_unique<GraPicture>(pictures::graPicture(Scene::Noise, 3));
  GraWriteOptions options;
  options.window = GraWindow{79, 80, 199, 200};
  Bytes file = writeGra(*picture, options).picture;
  Decoded expected = decodeMemory(file);
  ASSERT_EQ(expected.result, LoaderResult::Ok);
  EXPECT_EQ(expected.pixels, readerView(*picture, *options.window, false));

  const std::array<std::uint8_t, 4> equivalents[] = {
      {200, 0, 250, 0}, {79, 81, 199, 201}, {255, 255, 255, 255}, {80, 0, 200, 0}};
  for (const auto& fields : equivalents) {
    Bytes patched = file;
    std::copy(fields.begin(), fields.end(), patched.begin() + 2);
    Decoded decoded = decodeMemory(patched);
    ASSERT_EQ(decoded.result, LoaderResult::Ok);
    EXPECT_EQ(decoded.pixels, expected.pixels) << int{fields[0]} << " " << int{fields[1]};
  }
}

TEST(Window, EmptyHeightReadsNoData) {
  for (auto [top, bottom] : {std::pair{5, 5}, std::pair{7, 3}, std::pair{199, 199}}) {
    GraFileBuilder builder;
    builder.window(0, 0, top, bottom);
    ProgressLog log;
    Decoded decoded = decodeMemory(builder.bytes(), &log);
    ASSERT_EQ(decoded.result, LoaderResult::Ok);
    EXPECT_TRUE(onlyRowsSet(decoded, 0, 0));
    EXPECT_EQ(log.done(), (std::vector<int>{0, 400}));
  }
}

TEST(Window, EmptyWidthStillReadsEveryChunk) {
  GraFileBuilder builder;
  builder.window(7, 3, 0, 2);
  builder.pair(0x14, {0, 0xF1, 160}, {0, 0x01}, {0, 0x02});
  builder.pair(0x01, {0, 0xF1, 160}, {0, 0x01}, {0, 0x02});
  Bytes file = builder.bytes();
  Decoded decoded = decodeMemory(file);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  EXPECT_TRUE(onlyRowsSet(decoded, 0, 0));
  file.pop_back();
  EXPECT_EQ(decodeMemory(file).result, LoaderResult::BadData);
  expectNothingHeld();
}

class FourthPlane : public ::testing::Test {
 protected:
  TempDir dir;

  // A fourth plane where every row differs.
  static Bytes pattern() {
    Bytes bytes(kGraFourthPlaneSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<std::uint8_t>((i / 80) * 7 + (i % 80) * 13 + 1);
    }
    return bytes;
  }
  static int bitAt(const Bytes& plane, int x, int y) {
    return (plane[static_cast<std::size_t>(y) * 80 + x / 8] >> (7 - x % 8)) & 1;
  }
};

TEST_F(FourthPlane, EachBitAddsEightToItsPixel) {
  GraFileBuilder builder;
  builder.pair(0x14, {0, 0xF1, 160}, {}, {});
  std::string path = dir.write("pic.gra", withRepeatsTo(builder, 1));
  Bytes plane = pattern();
  dir.write("pic.e1", plane);
  Decoded decoded = decodeFile(path);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      ASSERT_EQ(pixel(decoded, x, y), 8 * bitAt(plane, x, y) + 1) << x << "," << y;
    }
  }
  expectNothingHeld();
}

TEST_F(FourthPlane, OnlyAnExactSizeCounts) {
  std::string path = dir.write("pic.gra", withRepeatsTo(GraFileBuilder(), 0));
  for (int size : {31999, 32001}) {
    dir.write("pic.e1", Bytes(static_cast<std::size_t>(size), 0xFF));
    Decoded decoded = decodeFile(path);
    ASSERT_EQ(decoded.result, LoaderResult::Ok);
    EXPECT_TRUE(onlyRowsSet(decoded, 0, 0)) << size;
  }
  dir.write("pic.e1", Bytes(kGraFourthPlaneSize, 0xFF));
  Decoded decoded = decodeFile(path);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  EXPECT_EQ(pixel(decoded, 0, 0), 8);
  EXPECT_EQ(pixel(decoded, 639, 399), 8);
  expectNothingHeld();
}

TEST_F(FourthPlane, WindowTakesTheRowsOfItsOwnPairs) {
  GraFileBuilder builder;
  builder.window(10, 20, 10, 20);
  builder.repeat(10);
  std::string path = dir.write("pic.gra", builder.bytes());
  Bytes plane = pattern();
  dir.write("pic.e1", plane);
  ProgressLog log;
  Decoded decoded = decodeFile(path, &log);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      int expected = y >= 20 && y < 40 ? 8 * bitAt(plane, x, y) : 0;
      ASSERT_EQ(pixel(decoded, x, y), expected) << x << "," << y;
    }
  }
  EXPECT_EQ(log.done(), (std::vector<int>{0, 32, 400}));
  expectNothingHeld();
}

TEST_F(FourthPlane, EmptyWindowOpensAndClosesIt) {
  GraFileBuilder builder;
  builder.window(0, 0, 9, 9);
  std::string path = dir.write("pic.gra", builder.bytes());
  dir.write("pic.e1", Bytes(kGraFourthPlaneSize, 0xFF));
  platform::setFaultPlan({});
  Decoded decoded = decodeFile(path);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  EXPECT_TRUE(onlyRowsSet(decoded, 0, 0));
  EXPECT_EQ(platform::operationCounts().opens, 3);  // picture, palette, fourth plane
  expectNothingHeld();
}

TEST(Progress, EveryThirtyTwoRowsBetweenStartAndEnd) {
  ProgressLog log;
  Decoded decoded = decodeMemory(withRepeatsTo(GraFileBuilder(), 0), &log);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  std::vector<int> expected = {0};
  for (int done = 32; done < 400; done += 32) expected.push_back(done);
  expected.push_back(400);
  EXPECT_EQ(log.done(), expected);
  for (const auto& call : log.calls) EXPECT_EQ(call.second, 400);
}

TEST(Progress, StartAndPeriodicCallsCancelTheEndCallDoesNot) {
  const Bytes file = withRepeatsTo(GraFileBuilder(), 0);
  const std::pair<int, std::vector<int>> cases[] = {
      {0, {0, 400}},
      {32, {0, 32, 400}},
      {384, {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 400}}};
  for (const auto& [cancelAt, calls] : cases) {
    ProgressLog log;
    log.cancelAt = cancelAt;
    EXPECT_EQ(decodeMemory(file, &log).result, LoaderResult::Cancelled) << cancelAt;
    EXPECT_EQ(log.done(), calls) << cancelAt;
  }
  ProgressLog log;
  log.cancelAt = 400;
  EXPECT_EQ(decodeMemory(file, &log).result, LoaderResult::Ok);
  expectNothingHeld();
}

TEST(ShortData, MissingFlagByteEndsTheLoopAtOnce) {
  // Pair 16 would report 32 rows; without its flag byte it reports nothing.
  GraFileBuilder builder;
  builder.repeat(16);
  ProgressLog log;
  EXPECT_EQ(decodeMemory(builder.bytes(), &log).result, LoaderResult::BadData);
  EXPECT_EQ(log.done(), (std::vector<int>{0, 400}));

  builder.repeat(1);
  log.calls.clear();
  EXPECT_EQ(decodeMemory(builder.bytes(), &log).result, LoaderResult::BadData);
  EXPECT_EQ(log.done(), (std::vector<int>{0, 32, 400}));
  expectNothingHeld();
}

TEST(ShortData, EveryCutOfAPairIsBadData) {
  GraFileBuilder builder;
  builder.repeat(16);
  builder.pair(0x14, {0, 0xF2, 0x33, 9}, {1, 0xFF}, {2, 0xF1, 3});
  const Bytes file = withRepeatsTo(builder, 17);
  ASSERT_EQ(decodeMemory(file).result, LoaderResult::Ok);
  const std::size_t pairStart = kGraHeaderBlockSize + 16;
  for (std::size_t cut = pairStart; cut < pairStart + 13; ++cut) {  // the pair is 13 bytes
    ProgressLog log;
    Bytes cutFile(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(decodeMemory(cutFile, &log).result, LoaderResult::BadData) << cut;
    EXPECT_EQ(log.done(), (std::vector<int>{0, 400})) << cut;
  }
  expectNothingHeld();
}

}  // namespace
