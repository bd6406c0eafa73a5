// SPDX-License-Identifier: MIT
// The plane writer, the information block and the common picture-information fields.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "framework/image_loader.h"
#include "framework/little_endian.h"
#include "tests/support/test_support.h"

namespace {

// A zeroed pixel block of 400 rows of 320 bytes.
Bytes pixelBlock() {
  return Bytes(kPixelBlockSize, 0);
}

TEST(MergePlaneBytes, BitsLandOnTheirPixelsAndPlanes) {
  Bytes p = pixelBlock();
  std::uint8_t b = 0x80;
  mergePlaneBytes(0, 1, &b, p.data());
  EXPECT_EQ(p[320], 0x10) << "bit 7: upper line, first pixel";
  b = 0x01;
  mergePlaneBytes(3, 1, &b, p.data());
  EXPECT_EQ(p[1], 0x08) << "bit 0: lower line, fourth pixel, plane 3";
}

TEST(MergePlaneBytes, AlternatingBitsAndSecondGroup) {
  Bytes p = pixelBlock();
  std::uint8_t a5 = 0xA5;
  mergePlaneBytes(0, 1, &a5, p.data());
  EXPECT_EQ(p[0], 0x01);
  EXPECT_EQ(p[1], 0x01);
  EXPECT_EQ(p[320], 0x10);
  EXPECT_EQ(p[321], 0x10);

  Bytes q = pixelBlock();
  std::uint8_t two[2] = {0xF0, 0x0F};
  mergePlaneBytes(2, 2, two, q.data());
  EXPECT_EQ(q[320], 0x44);
  EXPECT_EQ(q[321], 0x44);
  EXPECT_EQ(q[2], 0x44);
  EXPECT_EQ(q[3], 0x44);
  EXPECT_EQ(q[0] | q[1] | q[322] | q[323], 0);
}

TEST(MergePlaneBytes, PlanesOrTogetherInAnyOrderAndCountZeroWritesNothing) {
  Bytes p = pixelBlock();
  std::uint8_t all = 0xFF;
  for (int plane : {3, 1, 0, 2}) mergePlaneBytes(plane, 1, &all, p.data());
  EXPECT_EQ(p[0], 0xFF);
  EXPECT_EQ(p[321], 0xFF);
  Bytes untouched = pixelBlock();
  mergePlaneBytes(0, 0, &all, untouched.data());
  mergePlaneBytes(0, -3, &all, untouched.data());
  EXPECT_EQ(untouched, pixelBlock());
}

TEST(MergePlaneBytes, EveryByteValueAtEveryPlaneMatchesTheBitTable) {
  for (int plane = 0; plane < 4; ++plane) {
    Bytes p(2 * kRowBytes, 0);
    std::uint8_t planeBytes[160];
    for (int i = 0; i < 160; ++i) planeBytes[i] = static_cast<std::uint8_t>(i * 37 + plane);
    mergePlaneBytes(plane, 160, planeBytes, p.data());
    for (int x = 0; x < 640; ++x) {
      int b = planeBytes[x / 4];
      int upperBit = (b >> (7 - x % 4)) & 1;
      int lowerBit = (b >> (3 - x % 4)) & 1;
      auto pixel = [&](int row) { return (p[row * kRowBytes + x / 2] >> (x % 2 ? 0 : 4)) & 15; };
      ASSERT_EQ(pixel(1), upperBit << plane) << "plane " << plane << " x " << x;
      ASSERT_EQ(pixel(0), lowerBit << plane) << "plane " << plane << " x " << x;
    }
  }
}

// packPlaneLine from random pixels of a line pair, then mergePlaneBytes: each plane alone puts
// back its bit of every pixel, all four together the pixels themselves. A shorter count from
// inside the line writes that many plane bytes and no more.
TEST(PackPlaneLine, MergePlaneBytesPutsEveryPlaneBackWhereItCameFrom) {
  std::mt19937 random(20240715);
  for (int round = 0; round < 4; ++round) {
    Bytes pixels(2 * kPictureWidth);  // upper line, then lower line, one value per byte
    for (auto& v : pixels) v = static_cast<std::uint8_t>(random() % 16);
    auto nibble = [](const Bytes& rows, int row, int x) {
      return (rows[row * kRowBytes + x / 2] >> (x % 2 ? 0 : 4)) & 15;
    };
    Bytes all(2 * kRowBytes, 0);
    for (int plane = 0; plane < kMaxPlanes; ++plane) {
      std::uint8_t planeBytes[kPlaneLineBytes];
      packPlaneLine(plane, kPlaneLineBytes, pixels.data(), planeBytes);
      Bytes alone(2 * kRowBytes, 0);
      mergePlaneBytes(plane, kPlaneLineBytes, planeBytes, alone.data());
      mergePlaneBytes(plane, kPlaneLineBytes, planeBytes, all.data());
      for (int x = 0; x < kPictureWidth; ++x) {
        ASSERT_EQ(nibble(alone, 1, x), pixels[x] & (1 << plane)) << "upper, plane " << plane;
        ASSERT_EQ(nibble(alone, 0, x), pixels[kPictureWidth + x] & (1 << plane))
            << "lower, plane " << plane;
      }
    }
    for (int x = 0; x < kPictureWidth; ++x) {
      ASSERT_EQ(nibble(all, 1, x), pixels[x]) << "upper line, x " << x;
      ASSERT_EQ(nibble(all, 0, x), pixels[kPictureWidth + x]) << "lower line, x " << x;
    }

    const int first = 8 * round + 4, count = 17 * round + 1;
    Bytes part(count + 1, 0xA5);
    packPlaneLine(round, count, pixels.data() + 4 * first, part.data());
    std::uint8_t whole[kPlaneLineBytes];
    packPlaneLine(round, kPlaneLineBytes, pixels.data(), whole);
    EXPECT_EQ(Bytes(part.begin(), part.end() - 1), Bytes(whole + first, whole + first + count));
    EXPECT_EQ(part.back(), 0xA5) << "nothing past count";
  }
}

// The leftmost pixel of the upper line is bit 7, the rightmost of the lower line bit 0: lines
// swapped or bits in the wrong order give other bytes.
TEST(PackPlaneLine, UpperLineHighNibbleLeftPixelHighBit) {
  Bytes pixels(2 * kPictureWidth, 0);
  pixels[0] = 0x1;                  // upper line, first pixel, plane 0
  pixels[kPictureWidth + 3] = 0x8;  // lower line, fourth pixel, plane 3
  pixels[4 + 1] = 0x6;              // upper line, sixth pixel, planes 1 and 2
  pixels[kPictureWidth + 4] = 0x2;  // lower line, fifth pixel, plane 1
  const std::uint8_t expected[kMaxPlanes][2] = {
      {0x80, 0x00}, {0x00, 0x48}, {0x00, 0x40}, {0x01, 0x00}};
  for (int plane = 0; plane < kMaxPlanes; ++plane) {
    std::uint8_t got[2];
    packPlaneLine(plane, 2, pixels.data(), got);
    EXPECT_EQ(got[0], expected[plane][0]) << "plane " << plane;
    EXPECT_EQ(got[1], expected[plane][1]) << "plane " << plane;
  }
}

// mergeLinePair must write exactly what mergePlaneBytes writes for each of its planes: over
// random plane bytes, random earlier block contents, every count from -1 to a whole line, every
// set of planes, and an odd start within the row, on every path the processor runs. Guard rows
// around the pair must stay as they were. writeLinePair, for a whole line, must leave the rows
// as the plane writer leaves zeroed rows, whatever they held before.
TEST(MergeLinePair, EveryPathWritesWhatMergePlaneBytesWritesPlaneByPlane) {
  std::mt19937 random(20240607);
  auto randomBytes = [&](std::size_t n) {
    Bytes bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
  };
  const Bytes planes = randomBytes(kMaxPlanes * kPlaneLineBytes);
  for (int set = 0; set < 16; ++set) {
    const std::uint8_t* lines[kMaxPlanes] = {};
    for (int p = 0; p < kMaxPlanes; ++p) {
      if (set & (1 << p)) lines[p] = planes.data() + p * kPlaneLineBytes;
    }
    for (int count = -1; count <= kPlaneLineBytes; ++count) {
      // Rows 0 and 3 guard the pair in rows 1 and 2; the pair starts at byte 1 of its row so
      // that no word of the merge is aligned.
      const int start = count < kPlaneLineBytes ? 1 : 0;
      const Bytes before = randomBytes(4 * kRowBytes);
      Bytes expected = before;
      for (int p = 0; p < kMaxPlanes; ++p) {
        if (lines[p]) mergePlaneBytes(p, count, lines[p], expected.data() + kRowBytes + start);
      }
      for (WidePath path : {WidePath::Portable, WidePath::Sse2, WidePath::Avx2}) {
        if (path > processorWidePath()) continue;
        Bytes got = before;
        mergeLinePairOn(path, lines, count, got.data() + kRowBytes + start);
        ASSERT_EQ(got, expected) << "planes " << set << ", count " << count << ", path "
                                 << widePathName(path);
        if (count == kPlaneLineBytes) {
          Bytes stored = before;
          std::fill(stored.begin() + kRowBytes, stored.begin() + 3 * kRowBytes, 0);
          for (int p = 0; p < kMaxPlanes; ++p) {
            if (lines[p]) mergePlaneBytes(p, count, lines[p], stored.data() + kRowBytes);
          }
          got = before;
          writeLinePairOn(path, lines, got.data() + kRowBytes);
          ASSERT_EQ(got, stored) << "planes " << set << ", path " << widePathName(path);
        }
      }
    }
  }
}

TEST(LinePairRow, PairZeroIsTheTopOfABottomUpBlock) {
  Bytes p = pixelBlock();
  EXPECT_EQ(linePairRow(p.data(), 0) - p.data(), 127360);
  EXPECT_EQ(linePairRow(p.data(), 0) + kRowBytes - p.data(), 127680);
  EXPECT_EQ(linePairRow(p.data(), 199) - p.data(), 0);
}

// A loader with the geometry every format sets, exposing the shared output steps.
struct GeometryLoader : ImageLoader {
  GeometryLoader() {
    width = kPictureWidth;
    height = kPictureHeight;
    bitsPerPixel = 4;
    colorCount = 16;
    rowBytes = kRowBytes;
  }
  using ImageLoader::buildBitmapInfoFrom;
  using ImageLoader::fillCommonPictureInfo;
  using ImageLoader::preparePixelBlock;
};

TEST(BitmapInfo, HeaderAndDefaultColours) {
  Bytes block;
  {
    GeometryLoader loader;
    ASSERT_EQ(loader.buildBitmapInfoFrom(DefaultPalette), LoaderResult::Ok);
    block = takeBlock(loader.infoHandle);
    loader.infoHandle = 0;
  }
  expectNothingHeld();
  ASSERT_EQ(block.size(), 104u);
  EXPECT_EQ(readLe32(&block[0]), 40u);
  EXPECT_EQ(readLe32(&block[4]), 640u);
  EXPECT_EQ(readLe32(&block[8]), 400u);
  EXPECT_EQ(readLe16(&block[12]), 1);
  EXPECT_EQ(readLe16(&block[14]), 4);
  for (int at : {16, 20, 32, 36}) EXPECT_EQ(readLe32(&block[at]), 0u) << at;
  EXPECT_EQ(readLe32(&block[24]), 3780u);
  EXPECT_EQ(readLe32(&block[28]), 3780u);
  EXPECT_EQ(Bytes(block.begin() + 44, block.begin() + 56),
            (Bytes{0xFF, 0, 0, 0, 0, 0, 0xFF, 0, 0xFF, 0xAA, 0xFF, 0}));
  EXPECT_EQ(Bytes(block.begin() + 64, block.begin() + 68), (Bytes{0xAA, 0xFF, 0xFF, 0}))
      << "entry 6 is (255, 255, 170)";
}

TEST(BitmapInfo, EightColourLoaderStillCarriesSixteenEntries) {
  GeometryLoader loader;
  loader.bitsPerPixel = 3;
  loader.colorCount = 8;
  ASSERT_EQ(loader.buildBitmapInfoFrom(DefaultPalette), LoaderResult::Ok);
  Bytes block = takeBlock(loader.infoHandle);
  loader.infoHandle = 0;
  ASSERT_EQ(block.size(), 104u);
  EXPECT_EQ(readLe32(&block[32]), 0u) << "biClrUsed 0: all 16 entries of a 4-bit table";
  EXPECT_EQ(std::memcmp(block.data() + 40, DefaultPalette.data(), 64), 0);
}

TEST(BitmapInfo, FailuresLeaveTheBlockToTheDestructor) {
  {
    platform::ScopedFaultPlan plan({.failAllocation = 1});
    GeometryLoader loader;
    EXPECT_EQ(loader.buildBitmapInfoFrom(DefaultPalette), LoaderResult::NoMemory);
  }
  {
    platform::ScopedFaultPlan plan({.failLock = 1});
    GeometryLoader loader;
    EXPECT_EQ(loader.buildBitmapInfoFrom(DefaultPalette), LoaderResult::LockFailed);
    EXPECT_NE(loader.infoHandle, 0u);
  }
  expectNothingHeld();
}

TEST(PixelBlock, PreparedZeroedAndLocked) {
  GeometryLoader loader;
  std::uint8_t* pixels = nullptr;
  ASSERT_EQ(loader.preparePixelBlock(pixels), LoaderResult::Ok);
  EXPECT_EQ(GlobalSize(loader.pixelHandle), 128000u);
  EXPECT_EQ(platform::usage().lockedGlobalBlocks, 1);
  EXPECT_EQ(std::count(pixels, pixels + 128000, 0), 128000);
}

TEST(PictureInfo, CommonFields) {
  GeometryLoader loader;
  PictureInfoRecord info;
  std::memset(&info, 0xCC, sizeof info);
  loader.fillCommonPictureInfo(&info);
  EXPECT_EQ(info.left, 0);
  EXPECT_EQ(info.top, 0);
  EXPECT_EQ(info.width, 640);
  EXPECT_EQ(info.height, 400);
  EXPECT_EQ(info.horizontalDensity, 3780);
  EXPECT_EQ(info.verticalDensity, 3780);
  EXPECT_EQ(info.colorDepth, 4);
}

}  // namespace
