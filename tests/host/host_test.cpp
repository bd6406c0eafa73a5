// SPDX-License-Identifier: MIT
// The host library: reasons in words, companions, recognition and decoded pictures, through the
// plug-ins' exports as any host reaches them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "framework/companion_rule.h"
#include "framework/native_names.h"
#include "gra/gra_format.h"
#include "gra/writer/gra_writer.h"
#include "host/companions.h"
#include "host/picture.h"
#include "host/reasons.h"
#include "q/q_format.h"
#include "q/writer/q_writer.h"
#include "tests/support/test_support.h"

namespace {

// A 16-colour GRA picture with its companions, and the indices it was drawn with.
struct GraSet {
  std::unique_ptr<GraPicture> picture = std::make_unique<GraPicture>();
  GraFiles files;
  GraSet() {
    for (int y = 0; y < kPictureHeight; ++y)
      for (int x = 0; x < kPictureWidth; ++x)
        picture->at(x, y) = static_cast<std::uint8_t>((x / 40 + y / 25) % 16);
    for (int i = 0; i < 16; ++i)
      picture->colors[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(15 - i), 3};
    files = writeGra(*picture);
  }
};

std::unique_ptr<QPicture> drawQ(bool eight, const std::string& comment) {
  auto picture = std::make_unique<QPicture>();
  picture->eightColors = eight;
  picture->comment = comment;
  for (std::size_t i = 0; i < picture->pixels.size(); ++i)
    picture->pixels[i] = static_cast<std::uint8_t>((i / 7 + i / 6400) % (eight ? 8 : 16));
  for (int i = 0; i < 16; ++i)
    picture->palette[i] = {static_cast<std::uint8_t>(15 - i), static_cast<std::uint8_t>(i), 9};
  return picture;
}

class Host : public ::testing::Test {
 protected:
  host::PluginSet plugins;
  const host::Plugin& gra = *plugins.byFormat(host::PictureFormat::Gra);
  const host::Plugin& q = *plugins.byFormat(host::PictureFormat::Q);
  TempDir dir;
};

TEST(CompanionRule, ReplacesAOneToThreeLetterExtension) {
  EXPECT_EQ(companionName("a/CARD.GRA", "rgb"), "a/CARD.rgb");
  EXPECT_EQ(companionName("x.q", "e1"), "x.e1");
  EXPECT_EQ(companionName("pic.ab", "rgb"), "pic.rgb");
  EXPECT_EQ(companionName("pic.jpeg", "rgb"), "");  // a 4-letter extension is none
  EXPECT_EQ(companionName("picture", "rgb"), "");
  EXPECT_EQ(companionName("dir.d/picture", "rgb"), "");
  EXPECT_EQ(companionName(".", "rgb"), "");
}

TEST_F(Host, PluginsDescribeThemselves) {
  EXPECT_EQ(gra.extension(), "gra");
  EXPECT_EQ(q.extension(), "q");
  EXPECT_EQ(plugins.byFileName("A.GRA"), &gra);
  EXPECT_EQ(plugins.byFileName("b.Q"), &q);
  EXPECT_EQ(plugins.byFileName("c.png"), nullptr);
  EXPECT_EQ(plugins.byName("q"), &q);
}

// Each format's description is what its plug-in does: the extension its file name pattern
// gives and IsSupported takes, the signature where its writer puts it and its check looks, and
// companions of the sizes its decoder takes.
TEST_F(Host, DescriptionsAreWhatThePluginsDo) {
  GraSet set;
  const Bytes qFile = writeQ(*drawQ(false, "")).picture;
  const struct {
    const host::Plugin& plugin;
    const Bytes& file;
  } cases[] = {{gra, set.files.picture}, {q, qFile}};
  for (const auto& c : cases) {
    const FormatDescription& format = *c.plugin.description;
    SCOPED_TRACE(std::string(format.name));
    EXPECT_EQ(&host::descriptionOf(c.plugin.format), &format);
    EXPECT_EQ(c.plugin.info(2), "*." + std::string(format.extensions.front()));
    EXPECT_LT(c.file.size(), format.largestFile);

    // The signature: where the file has it, and the one thing IsSupported and the header check
    // refuse once a byte of it changes.
    const std::string_view signature = format.signature.bytes;
    ASSERT_LE(format.signature.offset + signature.size(), c.file.size());
    EXPECT_EQ(
        std::string_view(reinterpret_cast<const char*>(c.file.data()) + format.signature.offset,
                         signature.size()),
        signature);
    EXPECT_EQ(format.headerProblem(c.file.data(), c.file.size()), "");
    EXPECT_TRUE(host::recognisesContent(c.plugin, c.file));
    for (std::size_t i = 0; i < signature.size(); ++i) {
      Bytes changed = c.file;
      changed[format.signature.offset + i] ^= 0x20;
      EXPECT_FALSE(host::recognisesContent(c.plugin, changed)) << "byte " << i;
      EXPECT_NE(format.headerProblem(changed.data(), changed.size()), "") << "byte " << i;
    }

    // Names: the extension in any letter case, after a dot, and nothing else; no name at all
    // has none.
    const std::string extension(format.extensions.front());
    std::string upper = extension;
    for (char& ch : upper) ch = static_cast<char>(ch - 'a' + 'A');
    for (const std::string& name : {"a." + extension, "dir.x/B." + upper, "." + extension}) {
      EXPECT_TRUE(nameHasExtensionOf(format, name.c_str())) << name;
      EXPECT_EQ(plugins.byFileName(name), &c.plugin) << name;
    }
    for (const std::string& name :
         {extension, "a" + extension, "a." + extension + "x", "a.x" + extension, std::string("")}) {
      EXPECT_FALSE(nameHasExtensionOf(format, name.c_str())) << name;
    }
    EXPECT_FALSE(nameHasExtensionOf(format, nullptr));
  }

  // GRA's companions are the files its writer makes, of the sizes they have.
  ASSERT_EQ(kGraFormat.companions.size(), 2u);
  for (const CompanionFile& companion : kGraFormat.companions) {
    const Bytes& written =
        companion.role == CompanionRole::Palette ? set.files.palette : set.files.fourthPlane;
    EXPECT_EQ(written.size(), companion.size) << companion.suffix;
  }
  EXPECT_TRUE(qformat::kFormat.companions.empty());
  EXPECT_EQ(host::formatDescriptions().size(), plugins.plugins().size());
}

// Each reason says what the bytes showed, and each is the plug-in's own verdict: the plug-in
// refuses the file (IsSupported on its first 16 KiB, or, where zeros after a short file pass
// there, GetPicture on the whole file), and takes the untouched one.
TEST_F(Host, ReasonsSayWhatTheHeaderShows) {
  GraSet set;
  const Bytes goodGra = set.files.picture;
  const Bytes goodQ = writeQ(*drawQ(false, "hello")).picture;
  EXPECT_EQ(plugins.recognise("a.gra", goodGra), &gra);
  EXPECT_EQ(plugins.recognise("a.q", goodQ), &q);
  EXPECT_EQ(host::headerProblem(host::PictureFormat::Gra, goodGra), "");
  EXPECT_EQ(host::headerProblem(host::PictureFormat::Q, goodQ), "");

  Bytes noWed = goodGra;
  noWed[14] = 'X';
  Bytes moreBlocks(goodGra.begin(), goodGra.begin() + 40);
  moreBlocks[1] = 5;  // five header blocks, 80 bytes, in a file of 40
  Bytes noMajyo = goodQ;
  noMajyo[47] = 'o';
  Bytes wrongSize = goodQ;
  wrongSize[40] ^= 2;
  Bytes eightInSixteen = goodQ;  // the colour mode byte says 8 colours: a smaller table
  eightInSixteen[34] = 0;
  const std::string size = std::to_string(goodQ.size());
  struct Case {
    const char* name;
    Bytes file;
    std::string why;
  } cases[] = {
      {"short.gra", Bytes(goodGra.begin(), goodGra.begin() + 15),
       "only 15 bytes, the header alone is 16"},
      {"nowed.gra", noWed, "no \"WED\" signature at byte 13"},
      {"blocks.gra", moreBlocks, "the header says 5 blocks of 16 bytes, the file ends after 40"},
      {"short.q", Bytes(goodQ.begin(), goodQ.begin() + 100),
       "only 100 bytes, the header alone is 134"},
      {"table.q", Bytes(goodQ.begin(), goodQ.begin() + 600),
       "the file ends after 600 bytes, inside the table block (658 bytes with the header)"},
      {"nomajyo.q", noMajyo, "no \"MAJYO\" signature at byte 43"},
      {"size.q", wrongSize,
       "the size field says " + std::to_string(goodQ.size() ^ 2) +
           " bytes, header and chunks make " + size},
      {"mode.q", eightInSixteen,
       "the size field says " + size + " bytes, header and chunks make " +
           std::to_string(goodQ.size() - 124)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const host::Plugin& plugin = *plugins.byFileName(c.name);
    EXPECT_EQ(host::whyNotTaken(plugin, c.file), "not a " + plugin.title() + ": " + c.why);
    host::Picture picture;
    const bool refused = !plugins.recognise(c.name, c.file) ||
                         host::decode(plugin, {"", c.file}, picture).code == LoaderResult::BadData;
    EXPECT_TRUE(refused);
  }
}

TEST_F(Host, ANameThatLiesIsToldFromTheContent) {
  GraSet set;
  EXPECT_EQ(host::whyNotRecognised(plugins, "card.q", set.files.picture),
            "not a Q picture: no \"MAJYO\" signature at byte 43; it looks like a GRA picture");
  EXPECT_EQ(host::whyNotRecognised(plugins, "card.bin", set.files.picture),
            "not a GRA or Q picture: the name ends in neither .gra nor .q; it looks like a GRA "
            "picture");
  EXPECT_EQ(host::whyNotRecognised(plugins, "notes.txt", Bytes{'h', 'i'}),
            "not a GRA or Q picture: the name ends in neither .gra nor .q");
}

// A short file and a failed check give different reasons once the header has passed.
TEST_F(Host, FailuresTellAShortFileFromAFailedCheck) {
  const Bytes goodQ = writeQ(*drawQ(true, "")).picture;
  const Bytes shortQ(goodQ.begin(), goodQ.end() - 3);
  host::Picture picture;
  host::Result r = host::decode(q, {"", shortQ}, picture);
  EXPECT_EQ(r.code, LoaderResult::BadData);
  EXPECT_EQ(r.reason, "the file ends after " + std::to_string(shortQ.size()) +
                          " bytes, its header and chunks make " + std::to_string(goodQ.size()));

  GraSet set;
  const Bytes shortGra(set.files.picture.begin(), set.files.picture.begin() + 500);
  r = host::decode(gra, {dir.write("short.gra", shortGra), {}}, picture);
  EXPECT_EQ(r.code, LoaderResult::BadData);
  EXPECT_EQ(r.reason, "the file ends after 500 bytes, before the picture's last line pair");

  // Without the bytes, only the code speaks.
  EXPECT_EQ(host::describeFailure(q, LoaderResult::BadData, {}),
            host::describeResult(LoaderResult::BadData));
  EXPECT_EQ(host::describeResult(LoaderResult::OpenFailed), "cannot open the file (OpenFailed)");
  r = host::decode(q, {dir.file("missing.q"), {}}, picture);
  EXPECT_EQ(r.code, LoaderResult::OpenFailed);
  expectNothingHeld();
}

// The one table of result codes gives both a code's name and a host's words for it: every code
// is in it once, under its own name.
TEST(ResultCodes, EachCodeHasItsNameAndWords) {
  const std::pair<LoaderResult, std::string> codes[] = {
      {LoaderResult::Ok, "Ok"},
      {LoaderResult::Cancelled, "Cancelled"},
      {LoaderResult::UnknownFormat, "UnknownFormat"},
      {LoaderResult::BadData, "BadData"},
      {LoaderResult::NoMemory, "NoMemory"},
      {LoaderResult::LockFailed, "LockFailed"},
      {LoaderResult::OpenFailed, "OpenFailed"},
      {LoaderResult::NotProvided, "NotProvided"},
  };
  ASSERT_EQ(std::size(kResultCodes), std::size(codes));
  for (const auto& [code, name] : codes) {
    EXPECT_EQ(resultName(code), name);
    const std::string described = host::describeResult(code);
    EXPECT_TRUE(described.ends_with(" (" + name + ")")) << described;
    EXPECT_GT(described.size(), name.size() + 4) << described;  // words before the name
  }
  EXPECT_EQ(host::describeResult(LoaderResult::NoMemory), "out of memory (NoMemory)");
  EXPECT_EQ(std::string(resultName(static_cast<LoaderResult>(7))), "an unknown result");
  EXPECT_EQ(host::describeResult(static_cast<LoaderResult>(7)), "unknown result 7");
}

TEST_F(Host, CompanionsAreThoseTheDecoderUses) {
  GraSet set;
  const std::string path = dir.write("card.gra", set.files.picture);
  host::Picture picture;
  ASSERT_TRUE(host::decode(gra, {path, {}}, picture));
  EXPECT_EQ(picture.info.companions.palette, "");
  dir.write("card.rgb", set.files.palette);
  Bytes longPlane = set.files.fourthPlane;
  longPlane.push_back(0);
  dir.write("card.e1", longPlane);  // one byte too many: the decoder passes it over
  ASSERT_TRUE(host::decode(gra, {path, {}}, picture));
  EXPECT_EQ(picture.info.companions.palette, dir.file("card.rgb"));
  EXPECT_EQ(picture.info.companions.fourthPlane, "");
  EXPECT_EQ(picture.info.colors, 8);
  EXPECT_EQ(picture.index(40, 0), 1);   // colour 1 ...
  EXPECT_EQ(picture.index(360, 0), 1);  // ... and 9 without its fourth plane

  dir.write("card.e1", set.files.fourthPlane);
  ASSERT_TRUE(host::decode(gra, {path, {}}, picture));
  EXPECT_EQ(picture.info.companions.fourthPlane, dir.file("card.e1"));
  EXPECT_EQ(picture.info.colors, 16);
  EXPECT_EQ(picture.index(360, 0), 9);
}

// A folder of 5,000 files in which pictures lack companions, and one whose companions' names
// are in upper case: the companions are paired as the lower-case ones are, and however many
// names are looked for, the folder is read once while listings are kept and once a decode
// otherwise.
TEST_F(Host, CompanionsInALargeFolderComeFromOneReadingOfIt) {
  GraSet set;
  namespace fs = std::filesystem;
  fs::create_directories(dir.file("big"));
  fs::create_directories(dir.file("lower"));
  for (int i = 0; i < 4990; ++i) dir.write("big/f" + std::to_string(i) + ".txt", {});
  std::vector<std::string> bare;
  for (int i = 0; i < 7; ++i)
    bare.push_back(dir.write("big/bare" + std::to_string(i) + ".gra", set.files.picture));
  const std::string upper = dir.write("big/card.gra", set.files.picture);
  dir.write("big/CARD.RGB", set.files.palette);
  dir.write("big/Card.E1", set.files.fourthPlane);
  const std::string lower = dir.write("lower/card.gra", set.files.picture);
  dir.write("lower/card.rgb", set.files.palette);
  dir.write("lower/card.e1", set.files.fourthPlane);
  ASSERT_EQ(std::distance(fs::directory_iterator(dir.file("big")), fs::directory_iterator()), 5000);

  host::Picture expected;
  ASSERT_TRUE(host::decode(gra, {lower, {}}, expected));
  ASSERT_EQ(expected.info.colors, 16);

  {
    host::FolderListings batch;
    const long before = platform::foldersRead();
    host::Picture picture;
    ASSERT_TRUE(host::decode(gra, {upper, {}}, picture));
    EXPECT_EQ(picture.info.companions.palette, dir.file("big/CARD.RGB"));
    EXPECT_EQ(picture.info.companions.fourthPlane, dir.file("big/Card.E1"));
    EXPECT_EQ(picture.palette, expected.palette);
    EXPECT_EQ(picture.indices, expected.indices);
    EXPECT_EQ(picture.pixelBlock, expected.pixelBlock);
    for (const std::string& path : bare) {
      ASSERT_TRUE(host::decode(gra, {path, {}}, picture));
      EXPECT_EQ(picture.info.companions.palette, "") << path;
      host::PictureInfo info;
      ASSERT_TRUE(host::readInfo(gra, {path, {}}, info));
      EXPECT_TRUE(host::companionFiles(host::PictureFormat::Gra, path).empty()) << path;
    }
    EXPECT_EQ(host::companionFiles(host::PictureFormat::Gra, upper),
              (std::vector<std::string>{dir.file("big/CARD.RGB"), dir.file("big/Card.E1")}));
    EXPECT_EQ(platform::foldersRead() - before, 1) << "one reading of the folder for the batch";
  }

  // Without kept listings each decode reads the folder once, and so sees files that came since.
  const long before = platform::foldersRead();
  host::Picture picture;
  ASSERT_TRUE(host::decode(gra, {bare[0], {}}, picture));
  EXPECT_EQ(picture.info.companions.palette, "");
  EXPECT_EQ(platform::foldersRead() - before, 1);
  dir.write("big/BARE0.Rgb", set.files.palette);
  ASSERT_TRUE(host::decode(gra, {bare[0], {}}, picture));
  EXPECT_EQ(picture.info.companions.palette, dir.file("big/BARE0.Rgb"));
  EXPECT_EQ(picture.palette, expected.palette);
}

TEST_F(Host, CompanionNamesFollowThePictureName) {
  // The stem keeps its letters as they are; a name without a short extension has none.
  host::Companions names = host::companionNamesOf(host::PictureFormat::Gra, "dir/CARD.GRA");
  EXPECT_EQ(names.palette, "dir/CARD.rgb");
  EXPECT_EQ(names.fourthPlane, "dir/CARD.e1");
  EXPECT_EQ(host::companionNamesOf(host::PictureFormat::Gra, "card.long").palette, "");
  EXPECT_EQ(host::companionNamesOf(host::PictureFormat::Q, "card.q").fourthPlane, "");
}

TEST_F(Host, DecodedPictureIsWhatWasDrawn) {
  GraSet set;
  const std::string path = dir.write("card.gra", set.files.picture);
  dir.write("card.rgb", set.files.palette);
  dir.write("card.e1", set.files.fourthPlane);
  host::Picture picture;
  int calls = 0;
  ASSERT_TRUE(host::decode(gra, {path, {}}, picture, [&](int, int total) {
    EXPECT_EQ(total, 400);
    ++calls;
    return false;
  }));
  EXPECT_GT(calls, 2);
  EXPECT_EQ(picture.format, host::PictureFormat::Gra);
  EXPECT_EQ(picture.formatName, gra.formatName());
  ASSERT_EQ(picture.width(), 640);
  ASSERT_EQ(picture.height(), 400);
  EXPECT_TRUE(
      std::equal(picture.indices.begin(), picture.indices.end(), set.picture->pixels.begin()));
  EXPECT_EQ(picture.palette[5], rgb(0x55, 0xAA, 0x33));
  const Bytes rgba = picture.rgba();
  const Bytes rgbRows = picture.rgb();
  const std::size_t at = 123 * 640 + 456;
  const RgbQuad& colour = picture.palette[set.picture->at(456, 123)];
  EXPECT_EQ(rgba[4 * at], colour.red);
  EXPECT_EQ(rgba[4 * at + 1], colour.green);
  EXPECT_EQ(rgba[4 * at + 2], colour.blue);
  EXPECT_EQ(rgba[4 * at + 3], 255);
  EXPECT_EQ(rgbRows[3 * at + 2], colour.blue);
  EXPECT_EQ(rgbRows.size(), 640u * 400 * 3);

  // A Q picture in memory, with its comment and colour count.
  auto drawn = drawQ(true, "Eight, with a comment   ");
  ASSERT_TRUE(host::decode(q, {"", writeQ(*drawn).picture}, picture));
  EXPECT_EQ(picture.info.comment, "Eight, with a comment");
  EXPECT_EQ(picture.info.colors, 8);
  EXPECT_TRUE(std::equal(picture.indices.begin(), picture.indices.end(), drawn->pixels.begin()));
  expectNothingHeld();
}

TEST_F(Host, ANameThatCannotBeOpenedFallsBackToTheBytes) {
  const Bytes file = writeQ(*drawQ(false, "")).picture;
  host::Picture picture;
  ASSERT_TRUE(host::decode(q, {dir.file("gone.q"), file}, picture));
  EXPECT_EQ(picture.info.colors, 16);
  host::PictureInfo info;
  ASSERT_TRUE(host::readInfo(q, {dir.file("gone.q"), file}, info));
  EXPECT_EQ(info.width, 640);
}

TEST_F(Host, AProgressAnswerStopsTheDecode) {
  const Bytes file = writeQ(*drawQ(false, "")).picture;
  host::Picture picture;
  host::Result r = host::decode(q, {"", file}, picture, [](int done, int) { return done >= 64; });
  EXPECT_EQ(r.code, LoaderResult::Cancelled);
  EXPECT_EQ(r.reason, "cancelled (Cancelled)");
  expectNothingHeld();
}

}  // namespace
