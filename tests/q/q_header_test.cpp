// SPDX-License-Identifier: MIT
// Recognition, the header and table block, and the picture information with its comment.
#include <gtest/gtest.h>

#include "tests/q/q_test_support.h"

namespace {

// IsSupported on a 16384-byte block holding the start of file.
int isSupportedFromMemory(const char* name, const Bytes& file) {
  Bytes block(kRecognitionBlockSize, 0);
  std::memcpy(block.data(), file.data(), std::min(file.size(), block.size()));
  return Qdec::isSupported(name, reinterpret_cast<HostValue>(block.data()));
}

// A QLoader that has read the header of file from memory.
struct ReadLoader {
  QLoader loader;
  LoaderResult result;
  explicit ReadLoader(const Bytes& file) {
    loader.attachMemory(file.data(), static_cast<std::int32_t>(file.size()));
    result = loader.readHeader();
  }
};

TEST(Recognition, ExtensionIsDotQInEitherCase) {
  Bytes file = HandMadeQ{}.build();
  EXPECT_EQ(isSupportedFromMemory("pic.q", file), 1);
  EXPECT_EQ(isSupportedFromMemory("C:\\DIR.X\\PIC.Q", file), 1);
  EXPECT_EQ(isSupportedFromMemory(".q", file), 1);
  EXPECT_EQ(isSupportedFromMemory("pic.qq", file), 0);
  EXPECT_EQ(isSupportedFromMemory("picxq", file), 0);
  EXPECT_EQ(isSupportedFromMemory("q", file), 0);
  EXPECT_EQ(isSupportedFromMemory("", file), 0);
  EXPECT_EQ(isSupportedFromMemory("pic.gra", file), 0);
  EXPECT_EQ(isSupportedFromMemory(nullptr, file), 0);

  QLoader loader;
  EXPECT_EQ(loader.checkFormat("pic.qq", 0x12345678), LoaderResult::UnknownFormat)
      << "decided before anything is attached or read";
  EXPECT_EQ(loader.memory, nullptr);
  expectNothingHeld();
}

TEST(Recognition, SizeAndCaseSensitiveSignature) {
  HandMadeQ q;
  q.chunks[3] = Bytes(100, 0x11);
  Bytes file = q.build();
  EXPECT_EQ(isSupportedFromMemory("a.q", file), 1);

  Bytes lowerO = file;
  lowerO[47] = 'o';
  EXPECT_EQ(isSupportedFromMemory("a.q", lowerO), 0);

  Bytes wrongSize = file;
  ++wrongSize[qformat::kFileSizeOffset];
  EXPECT_EQ(isSupportedFromMemory("a.q", wrongSize), 0);

  // Bytes after the last chunk are never compared or read.
  Bytes trailing = file;
  trailing.resize(trailing.size() + 50, 0xEE);
  EXPECT_EQ(isSupportedFromMemory("a.q", trailing), 1);

  // GetPictureInfo never checks: a file without the signature still reports its geometry.
  PictureInfoRecord info{};
  EXPECT_EQ(Qdec::getPictureInfo(reinterpret_cast<const char*>(lowerO.data()),
                                 static_cast<std::int32_t>(lowerO.size()), 1, &info),
            LoaderResult::Ok);
  EXPECT_EQ(field(info.width), 640);
}

TEST(Recognition, FileSizeTakesByte42AsBits16To23) {
  Bytes empty = HandMadeQ{}.build();
  EXPECT_EQ(empty.size(), 658u);
  EXPECT_EQ(empty[40], 0x92);
  EXPECT_EQ(empty[41], 0x02);
  EXPECT_EQ(empty[42], 0x00);
  EXPECT_EQ(isSupportedFromMemory("e.q", empty), 1);

  // 66194 bytes: two chunks of 32768 bytes.
  HandMadeQ big;
  big.chunks[0] = Bytes(32768, 1);
  big.chunks[9] = Bytes(32768, 2);
  Bytes file = big.build();
  ASSERT_EQ(file.size(), 66194u);
  EXPECT_EQ(file[40], 0x92);
  EXPECT_EQ(file[41], 0x02);
  EXPECT_EQ(file[42], 0x01);
  EXPECT_EQ(isSupportedFromMemory("big.q", file), 1) << "only the header is read";
  Bytes noHighByte = file;
  noHighByte[42] = 0;
  EXPECT_EQ(isSupportedFromMemory("big.q", noHighByte), 0);
}

TEST(Recognition, ThroughAHostFileHandleWhichStaysOpen) {
  TempDir dir;
  HandMadeQ q;
  q.chunks[0] = {kE};
  std::string good = dir.write("good.q", q.build());
  Bytes bad = q.build();
  bad[43] = 'm';
  std::string wrong = dir.write("wrong.q", bad);

  HFILE handle = _lopen(good.c_str(), OF_READ);
  ASSERT_GE(handle, 0);
  ASSERT_LT(static_cast<HostValue>(handle), kFirstMemoryAddress);
  EXPECT_EQ(Qdec::isSupported("good.q", static_cast<HostValue>(handle)), 1);
  // The handle is the host's: still open, positioned after the header and table block.
  EXPECT_EQ(_llseek(handle, 0, FILE_CURRENT), 658);
  _lclose(handle);

  handle = _lopen(wrong.c_str(), OF_READ);
  EXPECT_EQ(Qdec::isSupported("wrong.q", static_cast<HostValue>(handle)), 0);
  _lclose(handle);

  // A handle on a file too short for the header.
  std::string tiny = dir.write("tiny.q", Bytes(100, 0));
  handle = _lopen(tiny.c_str(), OF_READ);
  EXPECT_EQ(Qdec::isSupported("tiny.q", static_cast<HostValue>(handle)), 0);
  _lclose(handle);
  expectNothingHeld();
}

TEST(Header, ColourModeZeroAloneSelectsEightColours) {
  for (int mode : {1, 2, 255}) {
    Bytes file = HandMadeQ{}.build();
    file[qformat::kColorModeOffset] = static_cast<std::uint8_t>(mode);
    ReadLoader r(file);
    ASSERT_EQ(r.result, LoaderResult::Ok) << mode;
    EXPECT_EQ(r.loader.bitsPerPixel, 4) << mode;
    EXPECT_EQ(r.loader.colorCount, 16) << mode;
    EXPECT_EQ(r.loader.computedSize, 658) << mode;
  }
  HandMadeQ eight;
  eight.eightColors = true;
  eight.indices.fill(31);
  eight.chunks[2] = Bytes(7, 1);
  ReadLoader r(eight.build());
  ASSERT_EQ(r.result, LoaderResult::Ok);
  EXPECT_EQ(r.loader.width, 640);
  EXPECT_EQ(r.loader.height, 400);
  EXPECT_EQ(r.loader.rowBytes, 320);
  EXPECT_EQ(r.loader.bitsPerPixel, 3);
  EXPECT_EQ(r.loader.colorCount, 8);
  EXPECT_EQ(r.loader.computedSize, 534 + 7);
  EXPECT_EQ(r.loader.referenceIndex[599], 31);
  EXPECT_EQ(r.loader.referenceIndex[600], 0);
  EXPECT_EQ(r.loader.referenceIndex[799], 0);
  EXPECT_EQ(r.loader.palette, DefaultPalette);
  EXPECT_EQ(isSupportedFromMemory("eight.q", eight.build()), 1);
}

TEST(Header, IndexUnpackingInBothLayouts) {
  Bytes file = HandMadeQ{}.build();
  file[134] = 0xF8;
  file[135] = 0x00;
  ReadLoader sixteen(file);
  EXPECT_EQ(sixteen.loader.referenceIndex[0], 31);
  EXPECT_EQ(sixteen.loader.referenceIndex[1], 0);

  HandMadeQ eight;
  eight.eightColors = true;
  Bytes eightFile = eight.build();
  const std::uint8_t words[] = {0x04, 0x21, 0x80, 0x00, 0x7F, 0xFF};
  std::memcpy(eightFile.data() + 134, words, sizeof words);
  ReadLoader e(eightFile);
  const int expected[] = {1, 1, 1, 0, 0, 0, 31, 31, 31};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(e.loader.referenceIndex[i], expected[i]) << i;

  // Every index of a busy table, both layouts, against the table the writer packed.
  for (bool eightColors : {false, true}) {
    auto picture = testPicture(eightColors, 7, true);
    QWriteOptions options;
    options.reference = QWriteOptions::Reference::Scattered;
    const auto [file, report] = writeQ(*picture, options);
    ReadLoader r(file);
    ASSERT_EQ(r.result, LoaderResult::Ok);
    const int lines = eightColors ? 600 : 800;
    ASSERT_EQ(report.referenceIndex.size(), static_cast<std::size_t>(lines));
    for (int n = 0; n < lines; ++n)
      ASSERT_EQ(r.loader.referenceIndex[n], report.referenceIndex[n]) << n;
  }
}

TEST(Header, PaletteNibblesHighFirstRedGreenBlue) {
  HandMadeQ q;
  q.paletteBytes[0] = 0xF0;
  q.paletteBytes[1] = 0x0F;
  q.paletteBytes[2] = 0xFF;
  // Entries 14 and 15 share bytes 21 to 23: red 14, green 14 | blue 14, red 15 | green 15,
  // blue 15.
  q.paletteBytes[21] = 0x05;
  q.paletteBytes[22] = 0x12;
  q.paletteBytes[23] = 0x3C;
  Decoded d = decode(q.build());
  ASSERT_EQ(d.result, LoaderResult::Ok);
  ASSERT_EQ(d.info.size(), 104u);
  Palette table;
  std::memcpy(table.data(), d.info.data() + 40, sizeof table);
  EXPECT_EQ(table[0], rgb(255, 0, 0));
  EXPECT_EQ(table[1], rgb(255, 255, 255));
  EXPECT_EQ(table[2], rgb(0, 0, 0));
  EXPECT_EQ(table[14], rgb(0, 5 * 17, 1 * 17));
  EXPECT_EQ(table[15], rgb(2 * 17, 3 * 17, 12 * 17));
  for (const RgbQuad& entry : table) EXPECT_EQ(entry.reserved, 0);
}

TEST(Header, EightColourInformationBlockHoldsAllSixteenDefaultEntries) {
  HandMadeQ q;
  q.eightColors = true;
  Decoded d = decode(q.build());
  ASSERT_EQ(d.result, LoaderResult::Ok);
  ASSERT_EQ(d.info.size(), 104u);
  EXPECT_EQ(d.info[14], 4) << "biBitCount";
  EXPECT_EQ(d.info[32], 0) << "biClrUsed";
  EXPECT_EQ(std::memcmp(d.info.data() + 40, DefaultPalette.data(), sizeof(Palette)), 0);
}

// GetPictureInfo's record and comment block, which the host then owns.
struct InfoResult {
  LoaderResult result;
  PictureInfoRecord record;
  Bytes comment;  // the text block's bytes, empty when textHandle is 0
};

InfoResult pictureInfo(const Bytes& file) {
  InfoResult r{};
  r.result = Qdec::getPictureInfo(reinterpret_cast<const char*>(file.data()),
                                  static_cast<std::int32_t>(file.size()), 1, &r.record);
  if (r.record.textHandle) r.comment = takeBlock(r.record.textHandle);
  return r;
}

TEST(PictureInfo, CommentOnlyFromASpaceOnAndBlockFullyWritten) {
  HandMadeQ q;
  q.comment[0] = 0x1F;
  q.comment[1] = 'x';
  InfoResult none = pictureInfo(q.build());
  EXPECT_EQ(none.result, LoaderResult::Ok);
  EXPECT_EQ(field(none.record.textHandle), 0u);
  EXPECT_EQ(field(none.record.width), 640);
  EXPECT_EQ(field(none.record.height), 400);
  EXPECT_EQ(field(none.record.horizontalDensity), 3780);
  EXPECT_EQ(field(none.record.verticalDensity), 3780);
  EXPECT_EQ(field(none.record.colorDepth), 4);
  EXPECT_EQ(field(none.record.left) | field(none.record.top), 0);

  // 32 bytes as they stand, an inner zero included, then four zero bytes.
  const char text[33] = " Title\0with inner zero and more!";
  std::memcpy(q.comment.data(), text, 32);
  InfoResult some = pictureInfo(q.build());
  EXPECT_EQ(some.result, LoaderResult::Ok);
  ASSERT_EQ(some.comment.size(), 36u);
  EXPECT_EQ(std::memcmp(some.comment.data(), text, 32), 0);
  EXPECT_EQ(some.comment[32] | some.comment[33] | some.comment[34] | some.comment[35], 0);
  expectNothingHeld();

  // High bytes count as a comment too (the first byte is read unsigned).
  q.comment[0] = 0x93;
  InfoResult high = pictureInfo(q.build());
  EXPECT_EQ(high.comment.size(), 36u);
  EXPECT_EQ(high.comment[0], 0x93);
}

}  // namespace
