// SPDX-License-Identifier: MIT
// Byte sources and companion files of ImageLoader.
#include <gtest/gtest.h>

#include "framework/image_loader.h"
#include "framework/native_names.h"
#include "tests/support/test_support.h"

namespace {

TEST(MemorySource, DeliversWhatIsThereAndNoMore) {
  Bytes block = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ImageLoader loader;
  ASSERT_EQ(loader.attachMemory(block.data(), 10), LoaderResult::Ok);
  Bytes out(16, 0xEE);
  EXPECT_EQ(loader.readBytes(out.data(), 16), 10);
  EXPECT_EQ(loader.memoryPosition, 10);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), block);
  EXPECT_EQ(out[10], 0xEE) << "bytes beyond those copied stay as they were";
  EXPECT_EQ(loader.readBytes(out.data(), 1), 0);
}

TEST(MemorySource, EmptyBlockAndNonPositiveCountsDeliverNothing) {
  std::uint8_t byte = 0;
  ImageLoader empty;
  empty.attachMemory(&byte, 0);
  EXPECT_EQ(empty.readBytes(&byte, 1), 0);
  ImageLoader loader;
  loader.attachMemory(&byte, 1);
  EXPECT_EQ(loader.readBytes(&byte, 0), 0);
  EXPECT_EQ(loader.readBytes(&byte, -5), 0);
  EXPECT_EQ(loader.memoryPosition, 0);
}

TEST(MemorySource, ReadsForwardInPieces) {
  Bytes block = {10, 20, 30, 40, 50};
  ImageLoader loader;
  loader.attachMemory(block.data(), 5);
  std::uint8_t out[3] = {};
  EXPECT_EQ(loader.readBytes(out, 2), 2);
  EXPECT_EQ(loader.readBytes(out, 3), 3);
  EXPECT_EQ(out[0], 30);
  EXPECT_EQ(out[2], 50);
}

TEST(FileSource, OpenByNameReadsFromTheStartAndClosesOnDestruction) {
  TempDir dir;
  std::string path = dir.write("pic.gra", {1, 2, 3});
  {
    ImageLoader loader;
    ASSERT_EQ(loader.selectSource(path.c_str(), 1000, 8), LoaderResult::Ok);
    ASSERT_NE(loader.fileName, nullptr);
    EXPECT_STREQ(loader.fileName, path.c_str());
    std::uint8_t out[4] = {};
    EXPECT_EQ(loader.readBytes(out, 4), 3);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(platform::usage().openFiles, 1);
  }
  expectNothingHeld();
}

TEST(FileSource, MissingFileIsOpenFailed) {
  TempDir dir;
  ImageLoader loader;
  EXPECT_EQ(loader.openByName(dir.file("missing.gra").c_str()), LoaderResult::OpenFailed);
  EXPECT_EQ(loader.file, -1);
  EXPECT_EQ(loader.fileName, nullptr);
}

TEST(FileSource, NameCopyFailureStillReadsAndStillCloses) {
  TempDir dir;
  std::string path = dir.write("pic.gra", {7});
  dir.write("pic.rgb", Bytes(48));
  {
    platform::ScopedFaultPlan plan({.failAllocation = 1});
    ImageLoader loader;
    ASSERT_EQ(loader.openByName(path.c_str()), LoaderResult::Ok);
    EXPECT_EQ(loader.fileName, nullptr);
    std::uint8_t out = 0;
    EXPECT_EQ(loader.readBytes(&out, 1), 1);
    EXPECT_EQ(out, 7);
    EXPECT_FALSE(loader.openCompanion("rgb", 48)) << "no name copy, no companion";
  }
  expectNothingHeld();
}

TEST(HandleSource, HostHandleIsReadFromItsPositionAndNeverClosed) {
  TempDir dir;
  std::string path = dir.write("pic.q", {1, 2, 3, 4});
  HFILE handle = _lopen(path.c_str(), OF_READ);
  ASSERT_GE(handle, 0);
  _llseek(handle, 1, FILE_BEGIN);
  {
    ImageLoader loader;
    loader.attachHandle(handle);
    std::uint8_t out[2] = {};
    EXPECT_EQ(loader.readBytes(out, 2), 2);
    EXPECT_EQ(out[0], 2);
    EXPECT_FALSE(loader.openCompanion("rgb", 48)) << "no name, no companion";
  }
  EXPECT_EQ(_llseek(handle, 0, FILE_CURRENT), 3) << "position left where reading stopped";
  EXPECT_EQ(_lclose(handle), 0) << "the host's handle is still open";
  expectNothingHeld();
}

TEST(SourceSelection, OnlyTheLowThreeFlagBitsCount) {
  Bytes block(4);
  for (std::uint32_t flags : {2u, 3u, 7u, 0xFFFFFFFAu}) {
    ImageLoader loader;
    EXPECT_EQ(loader.selectSource(block.data(), 4, flags), LoaderResult::NotProvided) << flags;
    EXPECT_EQ(loader.memory, nullptr);
    EXPECT_EQ(loader.file, -1);
  }
  ImageLoader loader;
  EXPECT_EQ(loader.selectSource(block.data(), 4, 0x101), LoaderResult::Ok);
  EXPECT_EQ(loader.memorySize, 4);
}

TEST(RecognitionSource, ValuesBelow0x10000AreHandles) {
  ImageLoader handle;
  handle.attachRecognitionSource(0xFFFF);
  EXPECT_EQ(handle.file, 0xFFFF);
  EXPECT_EQ(handle.memory, nullptr);
  ImageLoader memory;
  memory.attachRecognitionSource(0x10000);
  EXPECT_EQ(memory.file, -1);
  EXPECT_EQ(memory.memorySize, 16384);
}

// Companion files: the picture's extension of 1 to 3 letters is replaced in the name copy.
class Companions : public ::testing::Test {
 protected:
  // Opens name in the loader; answers the name the companion lookup produced, or "" for -1.
  std::string lookUp(ImageLoader& loader, const char* extension, int expectedSize) {
    Companion companion = loader.openCompanion(extension, expectedSize);
    if (!companion) return "";
    loader.closeCompanion(companion);
    return std::filesystem::path(loader.fileName).filename().string();
  }
  TempDir dir;
};

TEST_F(Companions, ReplaceTheExtensionAndKeepTheEdit) {
  dir.write("PIC.GRA", {});
  dir.write("PIC.rgb", Bytes(48));
  dir.write("PIC.e1", Bytes(32000));
  ImageLoader loader;
  ASSERT_EQ(loader.openByName(dir.file("PIC.GRA").c_str()), LoaderResult::Ok);
  EXPECT_EQ(lookUp(loader, "rgb", 48), "PIC.rgb");
  EXPECT_EQ(lookUp(loader, "e1", 32000), "PIC.e1");
}

TEST_F(Companions, OneLetterExtension) {
  dir.write("A.B", {});
  dir.write("A.rgb", Bytes(48));
  dir.write("A.e1", Bytes(32000));
  ImageLoader loader;
  ASSERT_EQ(loader.openByName(dir.file("A.B").c_str()), LoaderResult::Ok);
  EXPECT_EQ(lookUp(loader, "rgb", 48), "A.rgb");
  EXPECT_EQ(lookUp(loader, "e1", 32000), "A.e1");
}

TEST_F(Companions, NoUsableDotMeansNone) {
  dir.write("X.rgb", Bytes(48));  // what a lookup by the last dot would wrongly find
  for (const char* name : {"PICTURE", "X.JPEG"}) {
    dir.write(name, {});
    ImageLoader loader;
    ASSERT_EQ(loader.openByName(dir.file(name).c_str()), LoaderResult::Ok);
    EXPECT_FALSE(loader.openCompanion("rgb", 48)) << name;
  }
  expectNothingHeld();
}

TEST_F(Companions, WrongSizeIsClosedAndRefused) {
  dir.write("pic.gra", {});
  ImageLoader loader;
  ASSERT_EQ(loader.openByName(dir.file("pic.gra").c_str()), LoaderResult::Ok);
  for (int size : {47, 49}) {
    dir.write("pic.rgb", Bytes(static_cast<std::size_t>(size)));
    EXPECT_FALSE(loader.openCompanion("rgb", 48)) << size;
    EXPECT_EQ(platform::usage().openFiles, 1) << "only the picture stays open";
  }
  dir.write("pic.rgb", Bytes(48, 5));
  Companion companion = loader.openCompanion("rgb", 48);
  ASSERT_GE(companion.file, 0);
  std::uint8_t first = 0;
  EXPECT_EQ(companion.read(&first, 1), 1u) << "the companion is read from its start";
  EXPECT_EQ(first, 5);
  loader.closeCompanion(companion);
  EXPECT_FALSE(companion) << "closing forgets the companion";
  EXPECT_EQ(platform::usage().openFiles, 1);
}

// As on Windows, whose file system ignores letter case: CARD.GRA finds CARD.RGB and CARD.E1 by
// the names CARD.rgb and CARD.e1.
TEST_F(Companions, AreFoundWhateverTheirLetterCase) {
  dir.write("CARD.GRA", {});
  dir.write("CARD.RGB", Bytes(48));
  dir.write("Card.E1", Bytes(32000));
  {
    ImageLoader loader;
    ASSERT_EQ(loader.openByName(dir.file("card.gra").c_str()), LoaderResult::Ok);
    EXPECT_EQ(lookUp(loader, "rgb", 48), "card.rgb");
    EXPECT_EQ(lookUp(loader, "e1", 32000), "card.e1");
  }
  EXPECT_EQ(platform::nameToOpen(dir.file("card.rgb")), dir.file("CARD.RGB"));
  EXPECT_EQ(platform::nameToOpen(dir.file("card.e1")), dir.file("Card.E1"));
  EXPECT_EQ(platform::nameToOpen(dir.file("card.txt")), "");
  // Non-ASCII bytes are not folded.
  dir.write("\xC3\x89t\xC3\xA9.rgb", Bytes(48));
  EXPECT_EQ(platform::nameToOpen(dir.file("\xC3\xA9T\xC3\xA9.rgb")), "");
  EXPECT_EQ(platform::nameToOpen(dir.file("\xC3\x89T\xC3\xA9.RGB")),
            dir.file("\xC3\x89t\xC3\xA9.rgb"));
  expectNothingHeld();
}

TEST_F(Companions, AnExactNameWinsAndOfSeveralOthersTheFirstInByteOrder) {
  dir.write("pic.gra", {});
  dir.write("pic.RGB", Bytes(48, 1));
  dir.write("PIC.rgb", Bytes(48, 2));
  dir.write("Pic.Rgb", Bytes(48, 3));
  const auto firstByte = [&](const std::string& name) {
    HFILE file = _lopen(dir.file(name).c_str(), OF_READ);
    std::uint8_t first = 0;
    if (file >= 0) {
      _lread(file, &first, 1);
      _lclose(file);
    }
    return first;
  };
  EXPECT_EQ(firstByte("pic.rgb"), 2) << "\"PIC.rgb\" < \"Pic.Rgb\" < \"pic.RGB\"";
  EXPECT_EQ(platform::nameToOpen(dir.file("pic.rgb")), dir.file("PIC.rgb"));
  dir.write("pic.rgb", Bytes(48, 4));
  EXPECT_EQ(firstByte("pic.rgb"), 4);
  EXPECT_EQ(firstByte("Pic.Rgb"), 3);
  EXPECT_EQ(platform::nameToOpen(dir.file("pic.rgb")), dir.file("pic.rgb"));
  expectNothingHeld();
}

TEST_F(Companions, MissingCompanionAndMemorySourceGiveNone) {
  dir.write("pic.gra", {});
  ImageLoader named;
  ASSERT_EQ(named.openByName(dir.file("pic.gra").c_str()), LoaderResult::Ok);
  EXPECT_FALSE(named.openCompanion("e1", 32000));
  Bytes block(16);
  ImageLoader memory;
  memory.attachMemory(block.data(), 16);
  EXPECT_FALSE(memory.openCompanion("rgb", 48));
}

// Companions a linked host holds in memory: taken by the extension their names carry, under the
// same rule as files (exact size, read from the start), with no name copy and no file opened.
TEST(HeldCompanions, TakenByExtensionAtTheirExactSizeOnly) {
  const Bytes palette(48, 7), shortPalette(47, 1), plane(32000, 9);
  struct Case {
    std::vector<HeldCompanion> held;
    const char* extension;
    int size;
    const char* taken;  // the name of the held companion taken; null for none
  };
  const Case cases[] = {
      {{{"card.rgb", palette.data(), 48}}, "rgb", 48, "card.rgb"},
      {{{"CARD.RGB", palette.data(), 48}}, "rgb", 48, "CARD.RGB"},  // letter case aside
      {{{"x.e1", plane.data(), 32000}, {"x.rgb", palette.data(), 48}}, "rgb", 48, "x.rgb"},
      {{{"x.e1", plane.data(), 32000}, {"x.rgb", palette.data(), 48}}, "e1", 32000, "x.e1"},
      {{{"card.rgb", shortPalette.data(), 47}}, "rgb", 48, nullptr},  // one byte short
      {{{"card.rgb", palette.data(), 48}}, "rgb", 47, nullptr},
      {{{"card.rgb", palette.data(), 48}}, "e1", 48, nullptr},  // another extension
      {{{"palette", palette.data(), 48}}, "rgb", 48, nullptr},  // no extension to go by
      {{{"card.xrgb", palette.data(), 48}}, "rgb", 48, nullptr},
      {{{"card.rgbx", palette.data(), 48}}, "rgb", 48, nullptr},
      {{{nullptr, palette.data(), 48}}, "rgb", 48, nullptr},
      {{}, "rgb", 48, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.extension) + " of " + (c.held.empty() ? "none" : "held files"));
    const HeldCompanions held{c.held.data(), static_cast<std::int32_t>(c.held.size())};
    Bytes picture(16);
    ImageLoader loader;
    loader.attachMemory(picture.data(), 16);
    loader.heldCompanions = &held;
    platform::setFaultPlan({});
    Companion companion = loader.openCompanion(c.extension, c.size);
    EXPECT_EQ(platform::operationCounts().opens, 0) << "no file is looked for";
    if (!c.taken) {
      EXPECT_FALSE(companion);
      continue;
    }
    ASSERT_TRUE(companion);
    EXPECT_STREQ(companion.held->name, c.taken);
    std::vector<std::uint8_t> read(static_cast<std::size_t>(c.size) + 1, 0xEE);
    EXPECT_EQ(companion.read(read.data(), static_cast<UINT>(read.size())),
              static_cast<UINT>(c.size))
        << "read from its start to its end and no further";
    EXPECT_EQ(read[0], companion.held->bytes[0]);
    EXPECT_EQ(read.back(), 0xEE);
    EXPECT_EQ(companion.read(read.data(), 1), 0u);
    loader.closeCompanion(companion);
    EXPECT_FALSE(companion);
  }
  expectNothingHeld();
}

TEST(HeldCompanions, TakeThePlaceOfFilesBesideAPictureOpenedByName) {
  TempDir dir;
  dir.write("pic.gra", {});
  dir.write("pic.rgb", Bytes(48, 1));
  const Bytes plane(32000, 2);
  const HeldCompanion items[] = {{"other.E1", plane.data(), 32000}};
  for (std::int32_t count : {0, 1}) {
    const HeldCompanions held{items, count};
    ImageLoader loader;
    ASSERT_EQ(loader.openByName(dir.file("pic.gra").c_str()), LoaderResult::Ok);
    loader.heldCompanions = &held;
    EXPECT_FALSE(loader.openCompanion("rgb", 48)) << "the file beside the picture is not taken";
    EXPECT_EQ(static_cast<bool>(loader.openCompanion("e1", 32000)), count == 1);
    EXPECT_STREQ(loader.fileName, dir.file("pic.gra").c_str()) << "the name copy is not edited";
  }
  expectNothingHeld();
}

TEST(HeldCompanions, SeekWithinTheBytesOnly) {
  const Bytes plane = [] {
    Bytes bytes(32000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / 160);
    return bytes;
  }();
  const HeldCompanion item{"p.e1", plane.data(), 32000};
  const HeldCompanions held{&item, 1};
  ImageLoader loader;
  loader.heldCompanions = &held;
  Companion companion = loader.openCompanion("e1", 32000);
  ASSERT_TRUE(companion);
  EXPECT_TRUE(companion.seek(160 * 7));
  std::uint8_t byte = 0;
  EXPECT_EQ(companion.read(&byte, 1), 1u);
  EXPECT_EQ(byte, 7);
  EXPECT_TRUE(companion.seek(32000));
  EXPECT_EQ(companion.read(&byte, 1), 0u);
  EXPECT_FALSE(companion.seek(32001));
  EXPECT_FALSE(companion.seek(-1));
  loader.closeCompanion(companion);
}

}  // namespace
