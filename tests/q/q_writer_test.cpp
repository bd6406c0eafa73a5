// SPDX-License-Identifier: MIT
// Writer round trips through the exports, what the writer chooses, truncated files and
// failing allocations, locks and opens.
#include <gtest/gtest.h>

#include <functional>

#include "tests/q/q_test_support.h"
#include "tests/support/fault_sweep.h"

namespace {

// Decodes file through GetPicture from memory and compares with what picture should give.
void expectRoundTrip(const QPicture& picture, const Bytes& file, const std::string& what) {
  Decoded d = decode(file);
  ASSERT_EQ(d.result, LoaderResult::Ok) << what;
  EXPECT_TRUE(d.pixels == expectedPixels(picture)) << what << ": pixels differ";
  ASSERT_EQ(d.info.size(), 104u) << what;
  Palette table;
  std::memcpy(table.data(), d.info.data() + 40, sizeof table);
  EXPECT_EQ(table, expectedPalette(picture)) << what;
  EXPECT_EQ(Qdec::isSupported("pic.q", reinterpret_cast<HostValue>(file.data())), 1) << what;
  expectNothingHeld();
}

TEST(RoundTrip, EveryOptionSetInBothColourModes) {
  for (bool eightColors : {false, true}) {
    auto picture = testPicture(eightColors, eightColors ? 11u : 12u);
    picture->comment = "round trip";
    // The library's writer paths between them steer every choice of the writer.
    for (const auto& [name, options] : pictures::qPaths(eightColors ? 8 : 16)) {
      const std::string what = name + (eightColors ? ", 8 colours" : ", 16 colours");
      expectRoundTrip(*picture, writeQ(*picture, options).picture, what);
    }
  }
}

TEST(RoundTrip, ByFileNameAndThroughAHostHandle) {
  TempDir dir;
  for (bool eightColors : {false, true}) {
    auto picture = testPicture(eightColors, 3);
    const Bytes file = writeQ(*picture).picture;
    const std::string path = dir.write(eightColors ? "eight.Q" : "sixteen.q", file);
    HGLOBAL info = kUntouched, pixels = kUntouched;
    ASSERT_EQ(Qdec::getPicture(path.c_str(), 0, 0, &info, &pixels, nullptr, 0), LoaderResult::Ok);
    takeBlock(info);
    EXPECT_TRUE(takeBlock(pixels) == expectedPixels(*picture));
    HFILE handle = _lopen(path.c_str(), OF_READ);
    EXPECT_EQ(Qdec::isSupported(path.c_str(), static_cast<HostValue>(handle)), 1);
    _lclose(handle);
  }
  expectNothingHeld();
}

TEST(RoundTrip, NoisyPictureNeedsTheFileSizesHighByte) {
  auto picture = std::make_unique<QPicture>(pictures::qPicture(pictures::Scene::Noise, 5));
  const Bytes file = writeQ(*picture).picture;
  ASSERT_GT(file.size(), 65536u);
  EXPECT_EQ(file[qformat::kFileSizeOffset + 2], file.size() >> 16);
  expectRoundTrip(*picture, file, "noise");
}

TEST(Writer, UsesEveryTokenKindWithAndWithoutLiteralMode) {
  for (bool eightColors : {false, true}) {
    auto picture = testPicture(eightColors, 21);
    QWriteOptions options;
    options.codes = QWriteOptions::Codes::MostUsed;  // code bytes are common: escapes
    options.literalMode = QWriteOptions::LiteralMode::Off;
    const QFiles offFiles = writeQ(*picture, options);
    options.literalMode = QWriteOptions::LiteralMode::On;
    const QFiles onFiles = writeQ(*picture, options);
    const QWriteReport& off = offFiles.report;
    const QWriteReport& on = onFiles.report;

    const QTokenCounts& o = off.tokens[0];
    EXPECT_GT(o.literal, 0);
    EXPECT_GT(o.zeroRun, 0);
    EXPECT_GT(o.ffRun, 0);
    EXPECT_GT(o.fillRun, 0);
    EXPECT_GT(o.endOfLine, 0);
    EXPECT_EQ(off.tokens[1].literal, 0) << "no chunk in literal mode";
    const QTokenCounts& l = on.tokens[1];
    EXPECT_GT(l.literal, 0);
    EXPECT_GT(l.zeroRun, 0);
    EXPECT_GT(l.ffRun, 0);
    EXPECT_GT(l.fillRun, 0);
    EXPECT_GT(l.escapedCode, 0);
    EXPECT_EQ(l.endOfLine, 0);
    EXPECT_EQ(on.tokens[0].literal, 0) << "every chunk in literal mode";
    expectRoundTrip(*picture, offFiles.picture, "every token kind, literal mode off");
    expectRoundTrip(*picture, onFiles.picture, "every token kind, literal mode on");
  }
}

TEST(Writer, ReferencesFindRepeatedLinesInTheHistory) {
  // Line pairs repeat every three pairs, that is every 12 lines.
  auto picture = std::make_unique<QPicture>();
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x)
      picture->pixels[y * kPictureWidth + x] = static_cast<std::uint8_t>((x / 8 + y / 2 % 3) % 16);
  const auto [best, report] = writeQ(*picture);
  QWriteOptions own;
  own.reference = QWriteOptions::Reference::OwnSlot;
  const Bytes plain = writeQ(*picture, own).picture;
  // From line 12 on every line repeats one in the history: one end-of-line byte each.
  EXPECT_LE(best.size(), 658u + 12 * 3 * 160 + 788);
  EXPECT_LT(best.size() * 4, plain.size());
  const Bytes pixels = expectedPixels(*picture);
  for (int n = 12; n < 800; ++n) {
    // The slot holds the latest earlier line of its number modulo 32.
    int distance = (n - report.referenceIndex[n]) % 32;
    if (distance == 0) distance = 32;
    ASSERT_TRUE(lineOf(pixels, n - distance) == lineOf(pixels, n)) << n;
  }
  expectRoundTrip(*picture, best, "repeated line pairs");
}

TEST(Writer, SpreadsLinesOverTheTenChunksAndWritesTheComment) {
  auto picture = testPicture(false, 2, true);
  picture->comment = std::string("A comment of exactly 32 bytes!!!");
  const auto [file, report] = writeQ(*picture);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(report.linesInChunk[k], 80) << k;
  PictureInfoRecord info{};
  ASSERT_EQ(Qdec::getPictureInfo(reinterpret_cast<const char*>(file.data()),
                                 static_cast<std::int32_t>(file.size()), 1, &info),
            LoaderResult::Ok);
  ASSERT_NE(field(info.textHandle), 0u);
  Bytes comment = takeBlock(info.textHandle);
  EXPECT_EQ(std::string(comment.begin(), comment.begin() + 32), picture->comment);

  picture->comment.clear();
  const Bytes silent = writeQ(*picture).picture;
  ASSERT_EQ(Qdec::getPictureInfo(reinterpret_cast<const char*>(silent.data()),
                                 static_cast<std::int32_t>(silent.size()), 1, &info),
            LoaderResult::Ok);
  EXPECT_EQ(field(info.textHandle), 0u);
  expectNothingHeld();
}

TEST(Writer, RejectsWhatItCannotWrite) {
  auto picture = testPicture(false, 1, true);
  picture->pixels[5] = 16;
  EXPECT_THROW(writeQ(*picture), WriteError);
  picture->pixels[5] = 8;
  EXPECT_NO_THROW(writeQ(*picture));
  picture->eightColors = true;
  EXPECT_THROW(writeQ(*picture), WriteError);
  picture->pixels[5] = 7;

  picture->comment = std::string(33, 'x');
  EXPECT_THROW(writeQ(*picture), WriteError);
  picture->comment = "\x1F starts below a space";
  EXPECT_THROW(writeQ(*picture), WriteError);
  picture->comment.clear();

  picture->eightColors = false;
  picture->palette[3].green = 16;
  EXPECT_THROW(writeQ(*picture), WriteError);
  picture->palette[3].green = 15;

  QWriteOptions uneven;
  uneven.linesPerChunk = std::array<int, 10>{800, 1, -1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_THROW(writeQ(*picture, uneven), WriteError);
  uneven.linesPerChunk = std::array<int, 10>{799, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_THROW(writeQ(*picture, uneven), WriteError);

  // Every code byte the same: a plain byte equal to it cannot be written.
  QWriteOptions stuck;
  stuck.fixedCodes[0] = EscapeRecord{0, 0x0F, 0x0F, 0x0F, 0x0F};
  auto stripes = std::make_unique<QPicture>();
  // Row 1 is the lower line of pair 0: plane 0 bytes 0x00, 0x0F, 0x00, ...
  for (int x = 0; x < kPictureWidth; ++x) stripes->pixels[kPictureWidth + x] = x % 8 < 4 ? 0 : 1;
  EXPECT_THROW(writeQ(*stripes, stuck), WriteError);

  // Noise in one chunk does not fit in 65535 bytes.
  auto noise = std::make_unique<QPicture>(pictures::qPicture(pictures::Scene::Noise, 9));
  QWriteOptions one;
  one.linesPerChunk = std::array<int, 10>{800, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_THROW(writeQ(*noise, one), WriteError);
}

// Every prefix of a valid file: GetPicture reads every byte, so it fails on each; the header
// and table block are all GetPictureInfo reads.
TEST(Truncation, EveryCutIsBadDataWithNothingHandedOverOrHeld) {
  for (bool eightColors : {false, true}) {
    auto picture = testPicture(eightColors, 17, true);
    picture->comment = "cut";
    QWriteOptions options;
    options.partialLineAtChunkEnds = true;
    options.literalMode = QWriteOptions::LiteralMode::Alternate;
    const Bytes file = writeQ(*picture, options).picture;
    const std::size_t tableEnd = eightColors ? 534 : 658;
    int wrong = 0;
    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
      const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
      HGLOBAL info = kUntouched, pixels = kUntouched;
      LoaderResult r =
          Qdec::getPicture(reinterpret_cast<const char*>(prefix.data()),
                           static_cast<std::int32_t>(cut), 1, &info, &pixels, nullptr, 0);
      const LoaderResult expected = cut == file.size() ? LoaderResult::Ok : LoaderResult::BadData;
      if (r == LoaderResult::Ok) {
        takeBlock(info);
        takeBlock(pixels);
      } else if (info != kUntouched || pixels != kUntouched) {
        ++wrong;
      }
      PictureInfoRecord record{};
      LoaderResult i = Qdec::getPictureInfo(reinterpret_cast<const char*>(prefix.data()),
                                            static_cast<std::int32_t>(cut), 1, &record);
      if (record.textHandle) takeBlock(record.textHandle);
      const LoaderResult expectedInfo = cut >= tableEnd ? LoaderResult::Ok : LoaderResult::BadData;
      const platform::Usage u = platform::usage();
      if (r != expected || i != expectedInfo || u.liveGlobalBlocks || u.lockedGlobalBlocks ||
          u.liveHeapBlocks) {
        ADD_FAILURE() << "cut at " << cut << " of " << file.size() << ": " << resultName(r) << ", "
                      << resultName(i);
        if (++wrong > 5) return;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// Fails, in turn, every allocation, lock and open that a successful call makes; a call that
// succeeds must still give the picture's pixels.
TEST(FaultInjection, EveryAllocationLockAndOpenOfGetPictureAndGetPictureInfo) {
  using namespace fault_sweep;
  TempDir dir;
  auto picture = testPicture(false, 4, true);
  picture->comment = "with a comment";
  const Bytes file = writeQ(*picture).picture;
  const std::string path = dir.write("pic.q", file);
  const Bytes pixels = expectedPixels(*picture);
  const Source fromMemory{reinterpret_cast<const char*>(file.data()),
                          static_cast<std::int32_t>(file.size()), kSourceIsMemory};
  const Source byName{path.c_str(), 0, kSourceIsFileName};
  sweep("GetPicture from memory", getPicture<Qdec>(fromMemory, pixels), {});
  sweep("GetPictureInfo from memory", getPictureInfo<Qdec>(fromMemory, true), {});
  // By name, the copy of the name is the one allocation whose failure is absorbed.
  sweep("GetPicture by name", getPicture<Qdec>(byName, pixels), {{Kind::Allocation, 1}});
  sweep("GetPictureInfo by name", getPictureInfo<Qdec>(byName, true), {{Kind::Allocation, 1}});
}

}  // namespace
