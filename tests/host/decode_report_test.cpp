// SPDX-License-Identifier: MIT
// What the host library hands on of a decode: the colours and companions the plug-in reported,
// companions held in memory taken as files beside a picture are, and what the host works out
// itself for a plug-in DLL that cannot report (host/dll_reports.h), held against the reports.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "gra/writer/gra_writer.h"
#include "host/dll_reports.h"
#include "host/picture.h"
#include "q/writer/q_writer.h"
#include "tests/support/test_support.h"

namespace {

// A 16-colour GRA picture with its companions: colours 8 to 15 need the fourth plane.
GraFiles graFiles() {
  auto picture = std::make_unique<GraPicture>();
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x)
      picture->at(x, y) = static_cast<std::uint8_t>((x / 40 + y / 50) % 16);
  for (int i = 0; i < 16; ++i)
    picture->colors[i] = {static_cast<std::uint8_t>(i), 3, static_cast<std::uint8_t>(15 - i)};
  return writeGra(*picture);
}

Bytes qFile(bool eightColors) {
  auto picture = std::make_unique<QPicture>();
  picture->eightColors = eightColors;
  for (std::size_t i = 0; i < picture->pixels.size(); ++i)
    picture->pixels[i] = static_cast<std::uint8_t>(i / 640 % (eightColors ? 8 : 16));
  return writeQ(*picture).picture;
}

Bytes resized(Bytes bytes, std::size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

class DecodeReport : public ::testing::Test {
 protected:
  // The GRA plug-in as a DLL shows itself to the host library: five exports, no native link.
  static host::Plugin asDll(const host::Plugin& linked) {
    host::Plugin dll = linked;
    dll.linkedPictureInfo = nullptr;
    dll.linkedPicture = nullptr;
    return dll;
  }

  host::PluginSet plugins;
  const host::Plugin& gra = *plugins.byFormat(host::PictureFormat::Gra);
  const host::Plugin& q = *plugins.byFormat(host::PictureFormat::Q);
  const GraFiles files = graFiles();
  TempDir dir;
};

// The acceptance case: a host that holds a GRA picture, its palette and its fourth plane in
// memory decodes it, with no file on disk, to what the decode by name with the companion files
// beside the picture gives.
TEST_F(DecodeReport, HeldCompanionsDecodeAsTheFilesBesideThePicture) {
  const std::string path = dir.write("card.gra", files.picture);
  dir.write("card.rgb", files.palette);
  dir.write("card.e1", files.fourthPlane);
  host::Picture byName;
  ASSERT_TRUE(host::decode(gra, {path, {}}, byName));
  ASSERT_EQ(byName.info.colors, 16);
  ASSERT_EQ(byName.info.companions.fourthPlane, dir.file("card.e1"));

  // Dropped with other letter cases, as a browser page gets them; the names come back as held.
  const host::PictureFile held{
      "", files.picture,
      host::HeldFiles{{"CARD.RGB", files.palette}, {"Card.E1", files.fourthPlane}}};
  host::Picture fromMemory;
  platform::setFaultPlan({});
  ASSERT_TRUE(host::decode(gra, held, fromMemory));
  EXPECT_EQ(platform::operationCounts().opens, 0) << "no file is opened";
  EXPECT_EQ(fromMemory.indices, byName.indices);
  EXPECT_EQ(fromMemory.infoBlock, byName.infoBlock) << "palette";
  EXPECT_EQ(fromMemory.pixelBlock, byName.pixelBlock);
  EXPECT_EQ(fromMemory.info.colors, 16);
  EXPECT_EQ(fromMemory.info.companions.palette, "CARD.RGB");
  EXPECT_EQ(fromMemory.info.companions.fourthPlane, "Card.E1");

  host::PictureInfo info;
  ASSERT_TRUE(host::readInfo(gra, held, info));
  EXPECT_EQ(info.colors, 16);
  EXPECT_EQ(info.companions.palette, "CARD.RGB");
  EXPECT_EQ(info.companions.fourthPlane, "Card.E1");
  expectNothingHeld();
}

// Held companions obey the rule files obey, and stand in for the files beside a named picture:
// a held list, even an empty one, means no file is looked for. Those of the wrong size are
// noted.
TEST_F(DecodeReport, HeldCompanionsFollowTheCompanionRule) {
  const std::string path = dir.write("card.gra", files.picture);
  dir.write("card.rgb", files.palette);
  dir.write("card.e1", files.fourthPlane);
  struct Case {
    const char* what;
    std::string path;
    host::HeldFiles held;
    const char* palette;
    const char* fourthPlane;
    int colors;
    const char* note = "";  // of the companion passed over
  };
  const Case cases[] = {
      {"nothing held", "", {}, "", "", 8},
      {"none held beside files", path, {}, "", "", 8},
      {"a held palette beside files", path, {{"mine.rgb", files.palette}}, "mine.rgb", "", 8},
      {"a palette a byte short",
       "",
       {{"a.rgb", resized(files.palette, 47)}},
       "",
       "",
       8,
       "a.rgb ignored: 47 bytes, a palette file is 48"},
      {"a fourth plane a byte long",
       "",
       {{"a.rgb", files.palette}, {"a.e1", resized(files.fourthPlane, 32001)}},
       "a.rgb",
       "",
       8,
       "a.e1 ignored: 32001 bytes, a fourth-plane file is 32000"},
      {"names without their extensions",
       "",
       {{"rgb", files.palette}, {"e1", files.fourthPlane}},
       "",
       "",
       8},
      {"the fourth plane alone", "", {{"x.E1", files.fourthPlane}}, "", "x.E1", 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    host::Picture picture;
    ASSERT_TRUE(host::decode(gra, {c.path, files.picture, c.held}, picture));
    EXPECT_EQ(picture.info.companions.palette, c.palette);
    EXPECT_EQ(picture.info.companions.fourthPlane, c.fourthPlane);
    EXPECT_EQ(picture.info.colors, c.colors);
    std::string notes;
    for (const host::IgnoredCompanion& ignored : picture.info.ignoredCompanions)
      notes += host::describe(ignored);
    EXPECT_EQ(notes, c.note);
    // Colour 9 of the drawing shows as 9 only with the fourth plane, in the palette's colour
    // only with the palette file.
    EXPECT_EQ(picture.index(360, 0), c.colors == 16 ? 9 : 1);
    const bool paletteTaken = *c.palette != '\0';
    EXPECT_EQ(picture.palette[1].green == 0x33, paletteTaken);
  }
  expectNothingHeld();
}

// The companion files beside a picture decoded by name, in every state the rule tells apart:
// what the linked plug-in reports, after GetPictureInfo and after GetPicture, and what the host
// works out for a DLL, agree.
TEST_F(DecodeReport, ReportsAndTheDllFallbackAgreeOnFilesBeside) {
  struct Case {
    const char* what;
    const char* paletteName;  // written when not null
    std::size_t paletteSize;
    const char* planeName;
    std::size_t planeSize;
    bool paletteTaken;
    bool planeTaken;
  };
  const Case cases[] = {
      {"none", nullptr, 0, nullptr, 0, false, false},
      {"a palette", "pic.rgb", 48, nullptr, 0, true, false},
      {"a fourth plane", nullptr, 0, "pic.e1", 32000, false, true},
      {"both", "pic.rgb", 48, "pic.e1", 32000, true, true},
      {"both of other letter cases", "PIC.RGB", 48, "Pic.E1", 32000, true, true},
      {"both of the wrong sizes", "pic.rgb", 49, "pic.e1", 31999, false, false},
      {"empty files", "pic.rgb", 0, "pic.e1", 0, false, false},
  };
  const host::Plugin dll = asDll(gra);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir here;
    const std::string path = here.write("pic.gra", files.picture);
    if (c.paletteName) here.write(c.paletteName, resized(files.palette, c.paletteSize));
    if (c.planeName) here.write(c.planeName, resized(files.fourthPlane, c.planeSize));
    const std::string palette = c.paletteTaken ? here.file(c.paletteName) : "";
    const std::string plane = c.planeTaken ? here.file(c.planeName) : "";

    host::Picture linked, fromDll;
    ASSERT_TRUE(host::decode(gra, {path, {}}, linked));
    ASSERT_TRUE(host::decode(dll, {path, {}}, fromDll));
    host::PictureInfo info;
    ASSERT_TRUE(host::readInfo(gra, {path, {}}, info));
    for (const host::PictureInfo* told : {&linked.info, &fromDll.info, &info}) {
      EXPECT_EQ(told->companions.palette, palette);
      EXPECT_EQ(told->companions.fourthPlane, plane);
      EXPECT_EQ(told->colors, c.planeTaken ? 16 : 8);
    }
    EXPECT_EQ(linked.pixelBlock, fromDll.pixelBlock);
  }
  expectNothingHeld();
}

TEST_F(DecodeReport, QColoursAreReportedByNameAndFromMemory) {
  const host::Plugin dll = asDll(q);
  for (bool eight : {true, false}) {
    SCOPED_TRACE(eight ? "8 colours" : "16 colours");
    const Bytes file = qFile(eight);
    const std::string path = dir.write(eight ? "eight.q" : "sixteen.q", file);
    for (const host::PictureFile& source :
         {host::PictureFile{path, {}}, host::PictureFile{"", file}}) {
      for (const host::Plugin* plugin : {&q, &dll}) {
        host::Picture picture;
        ASSERT_TRUE(host::decode(*plugin, source, picture));
        EXPECT_EQ(picture.info.colors, eight ? 8 : 16);
        EXPECT_EQ(picture.info.companions.palette, "");
        host::PictureInfo info;
        ASSERT_TRUE(host::readInfo(*plugin, source, info));
        EXPECT_EQ(info.colors, eight ? 8 : 16);
      }
    }
  }
  expectNothingHeld();
}

// A plug-in DLL opens companions by name only: held companions are refused in words, not
// dropped without a word.
TEST_F(DecodeReport, ADllTakesNoHeldCompanions) {
  const host::Plugin dll = asDll(gra);
  const host::PictureFile held{"", files.picture, host::HeldFiles{{"a.rgb", files.palette}}};
  host::Picture picture;
  const host::Result r = host::decode(dll, held, picture);
  EXPECT_EQ(r.code, LoaderResult::NotProvided);
  EXPECT_NE(r.reason.find("cannot take them from memory"), std::string::npos) << r.reason;
  host::PictureInfo info;
  EXPECT_EQ(host::readInfo(dll, held, info).code, LoaderResult::NotProvided);
  // Without held companions the DLL decodes as ever.
  EXPECT_TRUE(host::decode(dll, {"", files.picture}, picture));
  EXPECT_EQ(picture.info.colors, 8);
  expectNothingHeld();
}

}  // namespace
