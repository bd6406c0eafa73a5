// SPDX-License-Identifier: MIT
// Recognition, the header, the palette file and the picture information.
#include "tests/gra/gra_test_support.h"

namespace {

// IsSupported's memory source is the first 16384 bytes of the file.
std::vector<std::uint8_t> recognitionBlock(const Bytes& file) {
  std::vector<std::uint8_t> block(kRecognitionBlockSize, 0);
  std::copy(file.begin(), file.begin() + std::min<std::size_t>(file.size(), block.size()),
            block.begin());
  return block;
}

int isSupported(const char* name, const Bytes& file) {
  std::vector<std::uint8_t> block = recognitionBlock(file);
  return Gradec::isSupported(name, reinterpret_cast<HostValue>(block.data()));
}

Bytes allRepeats() {
  return withRepeatsTo(GraFileBuilder(), 0);
}

TEST(Recognition, ExtensionInAnyLetterCase) {
  Bytes file = allRepeats();
  for (const char* name : {"PIC.GRA", "pic.gra", "pic.GrA", "dir.x/a.gRa", ".gra"}) {
    EXPECT_EQ(isSupported(name, file), 1) << name;
  }
  // A host may pass no name at all: that is a name without the extension, not a crash.
  const char* const refused[] = {"pic.gra2", "pic.grb",   "picgra", "gra",  "a",
                                 "",         "pic.gra.q", "pic.gr", nullptr};
  for (const char* name : refused) {
    EXPECT_EQ(isSupported(name, file), 0) << name;
  }
  expectNothingHeld();
}

TEST(Recognition, SignatureIsTestedOnlyByIsSupported) {
  GraFileBuilder builder;
  builder.header.signature[2] = 'E';
  builder.pair(0x14, {0, 0xFF}, {}, {});
  Bytes file = withRepeatsTo(builder, 1);
  EXPECT_EQ(isSupported("pic.gra", file), 0);

  PictureInfoRecord info{};
  EXPECT_EQ(Gradec::getPictureInfo(reinterpret_cast<const char*>(file.data()),
                                   static_cast<std::int32_t>(file.size()), kSourceIsMemory, &info),
            LoaderResult::Ok);
  Decoded decoded = decodeMemory(file);
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  EXPECT_EQ(decoded.pixels[0], 1);  // plane 0 of the first 4 pixels of row 0
  expectNothingHeld();
}

TEST(Recognition, HeaderBlocksMustFitTheRecognitionBlock) {
  // 255 blocks: 4080 header bytes, still inside the 16384 bytes given.
  GraFileBuilder builder;
  builder.header.headerBlocks = 255;
  EXPECT_EQ(isSupported("pic.gra", builder.bytes()), 1);
}

TEST(Recognition, ThroughAHostFileHandle) {
  TempDir dir;
  Bytes file = allRepeats();
  std::string path = dir.write("pic.gra", file);
  dir.write("pic.rgb", Bytes(kGraPaletteFileSize, 1));

  HFILE handle = _lopen(path.c_str(), OF_READ);
  ASSERT_GE(handle, 0);
  ASSERT_LT(static_cast<HostValue>(handle), kFirstMemoryAddress);
  platform::setFaultPlan({});
  EXPECT_EQ(Gradec::isSupported("pic.gra", static_cast<HostValue>(handle)), 1);
  EXPECT_EQ(platform::operationCounts().opens, 0) << "no companion is looked for";
  // The host's handle stays open, positioned after the header.
  EXPECT_EQ(platform::usage().openFiles, 1);
  EXPECT_EQ(_llseek(handle, 0, FILE_CURRENT), kGraHeaderBlockSize);
  _lclose(handle);

  std::string shortPath = dir.write("short.gra", Bytes(file.begin(), file.begin() + 15));
  handle = _lopen(shortPath.c_str(), OF_READ);
  EXPECT_EQ(Gradec::isSupported("short.gra", static_cast<HostValue>(handle)), 0);
  _lclose(handle);
  expectNothingHeld();
}

// readHeader leaves the source at the first coded pair.
TEST(Header, BlockCountSetsWhereTheDataStarts) {
  const std::pair<int, int> cases[] = {{0, 16}, {1, 16}, {2, 32}, {3, 48}, {255, 4080}};
  for (auto [blocks, dataStart] : cases) {
    GraFileBuilder builder;
    builder.header.headerBlocks = static_cast<std::uint8_t>(blocks);
    Bytes file = builder.bytes();
    file.resize(5000, 0x77);
    GraLoader loader;
    loader.attachMemory(file.data(), static_cast<std::int32_t>(file.size()));
    ASSERT_EQ(loader.readHeader(), LoaderResult::Ok) << blocks;
    EXPECT_EQ(loader.memoryPosition, dataStart) << blocks;
    EXPECT_EQ(loader.headerBytes, dataStart);
    EXPECT_EQ(loader.width, 640);
    EXPECT_EQ(loader.height, 400);
    EXPECT_EQ(loader.rowBytes, 320);
    EXPECT_EQ(loader.colorCount, 16);

    // One byte short of the header is bad data.
    GraLoader shortLoader;
    shortLoader.attachMemory(file.data(), std::max(dataStart, 16) - 1);
    EXPECT_EQ(shortLoader.readHeader(), LoaderResult::BadData) << blocks;
    EXPECT_EQ(shortLoader.width, 0) << "geometry is set only after the whole header";
  }
}

TEST(PictureInfo, FixedGeometryWhateverTheHeader) {
  GraFileBuilder builder;
  builder.window(3, 9, 4, 8);
  builder.header.headerBlocks = 3;
  Bytes file = builder.bytes();
  file.resize(48);
  PictureInfoRecord info;
  std::memset(&info, 0xCC, sizeof info);
  ASSERT_EQ(Gradec::getPictureInfo(reinterpret_cast<const char*>(file.data()),
                                   static_cast<std::int32_t>(file.size()), kSourceIsMemory, &info),
            LoaderResult::Ok);
  EXPECT_EQ(+info.left, 0);
  EXPECT_EQ(+info.top, 0);
  EXPECT_EQ(+info.width, 640);
  EXPECT_EQ(+info.height, 400);
  EXPECT_EQ(+info.horizontalDensity, 3780);
  EXPECT_EQ(+info.verticalDensity, 3780);
  EXPECT_EQ(+info.colorDepth, 4);
  EXPECT_EQ(+info.textHandle, 0u);

  // A header cut short leaves the record alone.
  std::memset(&info, 0xCC, sizeof info);
  EXPECT_EQ(Gradec::getPictureInfo(reinterpret_cast<const char*>(file.data()), 47, kSourceIsMemory,
                                   &info),
            LoaderResult::BadData);
  EXPECT_EQ(+info.width, static_cast<std::int32_t>(0xCCCCCCCC));
  expectNothingHeld();
}

class PaletteFile : public ::testing::Test {
 protected:
  TempDir dir;
  std::string picture = dir.write("PIC.GRA", allRepeats());

  Palette decodedPalette() {
    Decoded decoded = decodeFile(picture);
    EXPECT_EQ(decoded.result, LoaderResult::Ok);
    return decoded.palette;
  }
};

TEST_F(PaletteFile, ComponentsSpreadOverBothNibbles) {
  Bytes colours(kGraPaletteFileSize, 0);
  const Bytes first = {15, 0, 8, 0x1F, 0x12, 0xF0, 1, 2, 3};
  std::copy(first.begin(), first.end(), colours.begin());
  colours[45] = 0xAB;
  dir.write("PIC.rgb", colours);
  Palette palette = decodedPalette();
  EXPECT_EQ(palette[0], rgb(0xFF, 0x00, 0x88));
  EXPECT_EQ(palette[1], rgb(0xFF, 0x32, 0xF0));  // the high nibble of 0xF0 stays
  EXPECT_EQ(palette[2], rgb(0x11, 0x22, 0x33));
  EXPECT_EQ(palette[15], rgb(0xBB, 0x00, 0x00));
  for (int k = 3; k < 15; ++k) EXPECT_EQ(palette[k], rgb(0, 0, 0)) << k;
  expectNothingHeld();
}

TEST_F(PaletteFile, OnlyAnExactSizeCounts) {
  for (int size : {47, 49, 0}) {
    dir.write("PIC.rgb", Bytes(static_cast<std::size_t>(size), 5));
    EXPECT_EQ(decodedPalette(), DefaultPalette) << size;
  }
  dir.write("PIC.rgb", Bytes(48, 5));
  EXPECT_EQ(decodedPalette()[9], rgb(0x55, 0x55, 0x55));
  expectNothingHeld();
}

TEST_F(PaletteFile, NotLookedForBesideAMemoryBlock) {
  dir.write("PIC.rgb", Bytes(48, 5));
  platform::setFaultPlan({});
  Decoded decoded = decodeMemory(allRepeats());
  ASSERT_EQ(decoded.result, LoaderResult::Ok);
  EXPECT_EQ(decoded.palette, DefaultPalette);
  EXPECT_EQ(platform::operationCounts().opens, 0);
}

TEST_F(PaletteFile, GetPictureInfoReadsItAndClosesIt) {
  dir.write("PIC.rgb", Bytes(48, 5));
  PictureInfoRecord info{};
  platform::setFaultPlan({});
  EXPECT_EQ(Gradec::getPictureInfo(picture.c_str(), 0, kSourceIsFileName, &info), LoaderResult::Ok);
  EXPECT_EQ(platform::operationCounts().opens, 2);
  expectNothingHeld();
}

}  // namespace
