// SPDX-License-Identifier: MIT
// The five exports: their sequences, result codes, hand-over rules and clean-up on every path.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "q/q_loader.h"
#include "tests/support/fault_sweep.h"
#include "tests/support/test_support.h"

// A format loader for exercising the frame alone: a file is "FAKE" and then pixel bytes. Its
// decoder takes a second scratch block, as real decoders may, and reports progress.
class FakeLoader : public ImageLoader {
 public:
  LoaderResult checkFormat(const char* name, HostValue source) override {
    if (std::strlen(name) < 5 || std::strcmp(name + std::strlen(name) - 5, ".fake") != 0)
      return LoaderResult::UnknownFormat;
    attachRecognitionSource(source);
    return readHeader();
  }
  LoaderResult readHeader() override {
    char magic[4];
    if (readBytes(magic, 4) != 4 || std::memcmp(magic, "FAKE", 4) != 0)
      return LoaderResult::BadData;
    width = kPictureWidth;
    height = kPictureHeight;
    bitsPerPixel = 4;
    colorCount = 16;
    rowBytes = kRowBytes;
    return LoaderResult::Ok;
  }
  LoaderResult fillPictureInfo(PictureInfoRecord* info) override {
    fillCommonPictureInfo(info);
    info->textHandle = 0;
    return LoaderResult::Ok;
  }
  LoaderResult buildBitmapInfo() override { return buildBitmapInfoFrom(DefaultPalette); }
  LoaderResult decodePixels() override {
    std::uint8_t* pixels = nullptr;
    LoaderResult r = preparePixelBlock(pixels);
    if (r != LoaderResult::Ok) return r;
    HGLOBAL scratch = GlobalAlloc(GMEM_MOVEABLE, 16);
    if (!scratch) r = LoaderResult::NoMemory;
    void* locked = scratch ? GlobalLock(scratch) : nullptr;
    if (scratch && !locked) r = LoaderResult::LockFailed;
    if (r == LoaderResult::Ok && reportProgress(0) != 0) r = LoaderResult::Cancelled;
    if (r == LoaderResult::Ok && readBytes(pixels, kPixelBlockSize) != kPixelBlockSize)
      r = LoaderResult::BadData;
    if (locked) GlobalUnlock(scratch);
    if (scratch) GlobalFree(scratch);
    GlobalUnlock(pixelHandle);
    return r;
  }
};

template <>
struct NativeModuleOf<FakeLoader> {
  static const NativeModule module;
};
const char* const kFakeStrings[] = {"00IN", "Fake to DIB filter", "*.fake", "FAKE(4bit)"};
const NativeModule NativeModuleOf<FakeLoader>::module{1024, kFakeStrings, 4};

namespace {

using Fake = PluginExports<FakeLoader>;
using Gradec = PluginExports<GraLoader>;
using Qdec = PluginExports<QLoader>;

Bytes fakePicture() {
  Bytes file = {'F', 'A', 'K', 'E'};
  for (int i = 0; i < kPixelBlockSize; ++i) file.push_back(static_cast<std::uint8_t>(i * 7));
  return file;
}

constexpr HGLOBAL kUntouched = 0xDEADBEEF;

TEST(GetPluginInfo, AnswersTheStringTable) {
  char buffer[80];
  EXPECT_EQ(Gradec::getPluginInfo(0, buffer, 80), 4);
  EXPECT_STREQ(buffer, "00IN");
  EXPECT_EQ(Gradec::getPluginInfo(2, buffer, 80), 5);
  EXPECT_STREQ(buffer, "*.gra");
  EXPECT_EQ(Gradec::getPluginInfo(3, buffer, 80), 9);
  EXPECT_STREQ(buffer, "GRA(4bit)");
  EXPECT_EQ(Qdec::getPluginInfo(2, buffer, 80), 3);
  EXPECT_STREQ(buffer, "*.q");
  EXPECT_EQ(Qdec::getPluginInfo(3, buffer, 80), 7);
  EXPECT_STREQ(buffer, "Q(4bit)");
  EXPECT_EQ(Qdec::getPluginInfo(1, buffer, 80), 15);
  EXPECT_STREQ(buffer, "Q to DIB filter");
}

TEST(GetPluginInfo, TruncatesTerminatesAndAnswersZeroForUnknownNumbers) {
  char buffer[80];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Gradec::getPluginInfo(1, buffer, 10), 9);
  EXPECT_STREQ(buffer, "GRA to DI");
  EXPECT_EQ(buffer[10], 'x') << "nothing written past the buffer";
  EXPECT_EQ(Gradec::getPluginInfo(4, buffer, 80), 0);
  EXPECT_EQ(Gradec::getPluginInfo(-1, buffer, 80), 0);
  EXPECT_EQ(Gradec::getPluginInfo(0, buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
}

TEST(GetPluginInfo, WithoutABufferNoResourceBearsTheStringsName) {
  char buffer[4] = {'k', 'e', 'e', 'p'};
  for (int n = 0; n < 4; ++n) {
    EXPECT_EQ(Gradec::getPluginInfo(n, nullptr, 80), 0) << n;
    EXPECT_EQ(Gradec::getPluginInfo(n, buffer, 0), 0) << n;
  }
  EXPECT_EQ(buffer[0], 'k');
  EXPECT_EQ(Gradec::getPluginInfo(1, buffer, -1), 0);
  EXPECT_EQ(buffer[0], 'k');
  // The 16-string block holding 1024 to 1039 is named 65: 4 counted strings, 12 empty ones.
  EXPECT_EQ(Qdec::getPluginInfo(65 - 1024, nullptr, 0), 2 * 16 + 2 * (4 + 15 + 3 + 7));
}

TEST(Sequences, GetPictureHandsOverBothBlocksUnlocked) {
  Bytes file = fakePicture();
  HGLOBAL info = kUntouched, pixels = kUntouched;
  ASSERT_EQ(Fake::getPicture(reinterpret_cast<const char*>(file.data()),
                             static_cast<std::int32_t>(file.size()), 1, &info, &pixels, nullptr, 0),
            LoaderResult::Ok);
  EXPECT_EQ(platform::usage().liveGlobalBlocks, 2);
  EXPECT_EQ(takeBlock(info).size(), 104u);
  Bytes decoded = takeBlock(pixels);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), file.begin() + 4));
  expectNothingHeld();
}

TEST(Sequences, FileNameModeIgnoresLengthAndOnlyLowFlagBitsCount) {
  TempDir dir;
  std::string path = dir.write("pic.other", fakePicture());
  for (std::uint32_t flags : {0u, 8u}) {
    HGLOBAL info = kUntouched, pixels = kUntouched;
    ASSERT_EQ(Fake::getPicture(path.c_str(), 1000, flags, &info, &pixels, nullptr, 0),
              LoaderResult::Ok);
    takeBlock(info);
    takeBlock(pixels);
  }
  expectNothingHeld();
}

TEST(Sequences, FailuresStoreNothingAndLeaveNothing) {
  TempDir dir;
  Bytes file = fakePicture();
  Bytes shortFile(file.begin(), file.begin() + 1000);
  struct Case {
    const char* what;
    const char* source;
    std::int32_t length;
    std::uint32_t flags;
    LoaderResult expected;
  } cases[] = {
      {"source kind 2", reinterpret_cast<const char*>(file.data()), 10, 2,
       LoaderResult::NotProvided},
      {"missing file", "/nonexistent/pic.fake", 0, 0, LoaderResult::OpenFailed},
      {"bad header", "FAKX", 4, 1, LoaderResult::BadData},
      {"short data", reinterpret_cast<const char*>(shortFile.data()), 1000, 1,
       LoaderResult::BadData},
  };
  for (const Case& c : cases) {
    HGLOBAL info = kUntouched, pixels = kUntouched;
    EXPECT_EQ(Fake::getPicture(c.source, c.length, c.flags, &info, &pixels, nullptr, 0), c.expected)
        << c.what;
    EXPECT_EQ(info, kUntouched) << c.what;
    EXPECT_EQ(pixels, kUntouched) << c.what;
    EXPECT_EQ(Fake::getPreview(c.source, c.length, c.flags, &info, &pixels, nullptr, 0),
              c.expected == LoaderResult::BadData && c.length == 1000 ? LoaderResult::NotProvided
                                                                      : c.expected)
        << c.what;
    expectNothingHeld();
  }
}

TEST(Sequences, CancelHandsNothingOver) {
  Bytes file = fakePicture();
  HGLOBAL info = kUntouched, pixels = kUntouched;
  auto refuse = [](int, int, HostValue) -> int { return 1; };
  EXPECT_EQ(Fake::getPicture(reinterpret_cast<const char*>(file.data()),
                             static_cast<std::int32_t>(file.size()), 1, &info, &pixels, refuse, 0),
            LoaderResult::Cancelled);
  EXPECT_EQ(info, kUntouched);
  expectNothingHeld();
}

TEST(Sequences, PreviewIsNeverProvided) {
  Bytes file = fakePicture();
  HGLOBAL info = kUntouched, pixels = kUntouched;
  EXPECT_EQ(Fake::getPreview(reinterpret_cast<const char*>(file.data()), 4, 1, &info, &pixels,
                             nullptr, 0),
            LoaderResult::NotProvided);
  EXPECT_EQ(info, kUntouched);
  EXPECT_EQ(Gradec::getPreview("/nonexistent/pic.gra", 0, 0, &info, &pixels, nullptr, 0),
            LoaderResult::OpenFailed);
  EXPECT_EQ(Qdec::getPreview("/nonexistent/pic.q", 0, 0, &info, &pixels, nullptr, 0),
            LoaderResult::OpenFailed);
  expectNothingHeld();
}

TEST(Sequences, GetPictureInfoWritesTheRecordOnlyOnSuccess) {
  PictureInfoRecord info;
  std::memset(&info, 0xAB, sizeof info);
  PictureInfoRecord before = info;
  EXPECT_EQ(Fake::getPictureInfo("FAKX", 4, 1, &info), LoaderResult::BadData);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
  EXPECT_EQ(Fake::getPictureInfo("FAKE", 4, 1, &info), LoaderResult::Ok);
  EXPECT_EQ(info.width, 640);
  EXPECT_EQ(+info.textHandle, 0u);  // a copy: the packed field is misaligned
}

TEST(Sequences, IsSupportedFoldsTheResult) {
  Bytes block(16384, 0);
  std::memcpy(block.data(), "FAKE", 4);
  auto address = reinterpret_cast<HostValue>(block.data());
  EXPECT_EQ(Fake::isSupported("pic.fake", address), 1);
  EXPECT_EQ(Fake::isSupported("pic.gra", address), 0);
  block[3] = 'X';
  EXPECT_EQ(Fake::isSupported("pic.fake", address), 0);
  expectNothingHeld();
}

// Fails, in turn, every allocation, lock and open that a successful call makes, and checks the
// code, that nothing was handed over and that nothing is left behind.
TEST(FaultInjection, EveryAllocationLockAndOpenOfEveryExport) {
  using namespace fault_sweep;
  TempDir dir;
  Bytes file = fakePicture();
  std::string path = dir.write("pic.fake", file);
  const Source fromMemory{reinterpret_cast<const char*>(file.data()),
                          static_cast<std::int32_t>(file.size()), kSourceIsMemory};
  const Source byName{path.c_str(), 0, kSourceIsFileName};
  sweep("GetPicture from memory", getPicture<Fake>(fromMemory), {});
  sweep("GetPictureInfo from memory", getPictureInfo<Fake>(fromMemory, false), {});
  // By name, the copy of the name is the one allocation whose failure is absorbed.
  sweep("GetPicture by name", getPicture<Fake>(byName), {{Kind::Allocation, 1}});
  sweep("GetPictureInfo by name", getPictureInfo<Fake>(byName, false), {{Kind::Allocation, 1}});
}

}  // namespace
