// SPDX-License-Identifier: MIT
// The host library's files: bounded reading of picture files, outputs that never replace what
// is not a regular file, sets written all or nothing, companions found as the plug-in finds
// them, text made printable, PNGs read with their stored values.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "gra/gra_format.h"
#include "host/companions.h"
#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/reasons.h"
#include "q/q_format.h"
#include "tests/planeconv/test_pictures.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = SAMPLES_DIR;

Bytes bytesOf(const std::string& path) {
  Bytes bytes;
  const host::Result r = host::readFile(path, bytes);
  EXPECT_TRUE(r) << path << ": " << r.reason;
  return bytes;
}

// A result as its code's name and its reason ("OpenFailed: already exists"); "Ok" alone.
std::string said(const host::Result& r) {
  return r ? "Ok" : std::string(resultName(r.code)) + ": " + r.reason;
}

class HostFiles : public ::testing::Test {
 protected:
  host::PluginSet plugins;
  TempDir dir;
};

TEST_F(HostFiles, APictureFileIsReadNoFurtherThanItsFormatCanReach) {
  Bytes q = bytesOf(kSamples + "/gradient.q");
  Bytes gra = bytesOf(kSamples + "/plain.gra");
  q.resize(2 << 20, 0x11);
  gra.resize(2 << 20, 0x22);
  host::OpenedPicture opened = host::openPicture(plugins, dir.write("long.q", q));
  ASSERT_TRUE(opened.plugin) << opened.result.reason;
  EXPECT_EQ(opened.file.bytes.size(), qformat::kLargestFile);
  EXPECT_EQ(opened.file.path, dir.file("long.q"));
  opened = host::openPicture(plugins, dir.write("long.gra", gra));
  ASSERT_TRUE(opened.plugin) << opened.result.reason;
  EXPECT_EQ(opened.file.bytes.size(), kGraLargestFile);
  host::Picture picture;
  EXPECT_TRUE(host::decode(*opened.plugin, opened.file, picture));

  // Bytes no plug-in takes: refused after the block IsSupported sees.
  Bytes noise(1 << 20);
  std::mt19937 random(3);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  for (const host::Plugin* chosen :
       {static_cast<const host::Plugin*>(nullptr), plugins.byName("gra"), plugins.byName("q")}) {
    opened = host::openPicture(plugins, dir.write("noise.q", noise), chosen);
    EXPECT_FALSE(opened.plugin);
    EXPECT_EQ(opened.file.bytes.size(), static_cast<std::size_t>(kRecognitionBlockSize));
    EXPECT_EQ(opened.result.code, chosen ? LoaderResult::BadData : LoaderResult::UnknownFormat);
    EXPECT_NE(opened.result.reason.find("not a"), std::string::npos) << opened.result.reason;
  }
  // A chosen plug-in keeps its own checks, and a refusal tells what the bytes look like.
  opened = host::openPicture(plugins, kSamples + "/plain.gra", plugins.byName("q"));
  EXPECT_FALSE(opened.plugin);
  EXPECT_EQ(said(opened.result), "BadData: not a Q picture: no \"MAJYO\" signature at byte 43");
  EXPECT_EQ(opened.looksLike, plugins.byName("gra"));
  opened = host::openPicture(plugins, kSamples);
  EXPECT_EQ(said(opened.result), "OpenFailed: is a folder");
  EXPECT_EQ(said(host::openPicture(plugins, dir.file("missing.gra")).result),
            "OpenFailed: cannot open (No such file or directory)");
  Bytes bytes;
  EXPECT_EQ(said(host::readFile(kSamples, bytes)), "OpenFailed: is a folder");
  EXPECT_TRUE(host::readFile(kSamples + "/plain.gra", bytes));
  EXPECT_EQ(bytes, bytesOf(kSamples + "/plain.gra"));
}

TEST_F(HostFiles, OutputsReplaceOnlyRegularFiles) {
  const Bytes bytes = {1, 2, 3};
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  fs::create_directory(dir.file("folder"));
  fs::create_symlink(dir.file("fifo"), dir.file("to-fifo"));
  for (const char* name : {"fifo", "folder", "to-fifo"}) {
    EXPECT_EQ(host::outputProblem(dir.file(name), true).code, LoaderResult::OpenFailed) << name;
    EXPECT_EQ(host::writeFileAtomically(dir.file(name), bytes, true).code, LoaderResult::OpenFailed)
        << name;
  }
  EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));
  EXPECT_TRUE(fs::is_directory(dir.file("folder")));

  int finished = 0;
  host::WriteOptions options;
  options.onFinished = [&] { ++finished; };
  EXPECT_EQ(said(host::writeFileAtomically(dir.file("new"), bytes, options)), "Ok");
  EXPECT_EQ(said(host::writeFileAtomically(dir.file("new"), {9}, options)),
            "OpenFailed: already exists");
  EXPECT_EQ(host::outputProblem(dir.file("new"), false).reason, host::kAlreadyExists);
  options.overwrite = true;
  fs::create_symlink("new", dir.file("to-new"));
  EXPECT_EQ(said(host::writeFileAtomically(dir.file("to-new"), {9}, options)), "Ok");
  EXPECT_TRUE(fs::is_symlink(dir.file("to-new")));
  EXPECT_EQ(bytesOf(dir.file("new")), Bytes{9});
  EXPECT_EQ(finished, 2);

  // The first cause, not the clean-up's.
  EXPECT_EQ(said(host::writeFileAtomically("/sys/host-test", bytes, options)),
            "OpenFailed: cannot create a file in /sys (Permission denied)");
  dir.write("file", bytes);
  options.createFolders = true;
  EXPECT_EQ(said(host::writeFileAtomically(dir.file("file/sub/x"), bytes, options)),
            "OpenFailed: cannot create the folder " + dir.file("file/sub") + " (Not a directory)");
  EXPECT_EQ(said(host::writeFileAtomically(dir.file("a/b/c"), bytes, options)), "Ok");
  EXPECT_EQ(bytesOf(dir.file("a/b/c")), bytes);
  for (const auto& entry : fs::recursive_directory_iterator(dir.file("")))
    EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
}

TEST_F(HostFiles, ASetIsWrittenWholeOrNotAtAll) {
  dir.write("pic.gra", {1});
  dir.write("pic.rgb", {2});
  dir.write("pic.e1", {3});
  host::WriteOptions options;
  options.overwrite = true;
  // One name of the set is a folder: nothing changes.
  fs::create_directory(dir.file("blocked.e1"));
  const host::Result r = host::writeFilesTogether(
      {{dir.file("pic.gra"), {10}}, {dir.file("pic.rgb"), {20}}, {dir.file("blocked.e1"), {30}}},
      {}, options);
  EXPECT_EQ(said(r), "OpenFailed: " + dir.file("blocked.e1") +
                         ": is a folder, not a regular file: only regular "
                         "files are replaced");
  EXPECT_EQ(bytesOf(dir.file("pic.gra")), Bytes{1});
  EXPECT_EQ(bytesOf(dir.file("pic.rgb")), Bytes{2});
  // Replaced and removed together.
  EXPECT_EQ(
      said(host::writeFilesTogether({{dir.file("pic.gra"), {10}}, {dir.file("pic.rgb"), {20}}},
                                    {dir.file("pic.e1"), dir.file("absent.e1")}, options)),
      "Ok");
  EXPECT_EQ(bytesOf(dir.file("pic.gra")), Bytes{10});
  EXPECT_EQ(bytesOf(dir.file("pic.rgb")), Bytes{20});
  EXPECT_FALSE(fs::exists(dir.file("pic.e1")));
  // Without overwrite an existing file stops the whole set.
  options.overwrite = false;
  EXPECT_EQ(said(host::writeFilesTogether(
                {{dir.file("other.gra"), {5}}, {dir.file("pic.rgb"), {6}}}, {}, options)),
            "OpenFailed: " + dir.file("pic.rgb") + ": already exists");
  EXPECT_FALSE(fs::exists(dir.file("other.gra")));
  for (const auto& entry : fs::directory_iterator(dir.file("")))
    EXPECT_EQ(entry.path().string().find(".part-"), std::string::npos) << entry.path();
}

TEST_F(HostFiles, CompanionsAreFoundAsThePluginFindsThem) {
  const GraFiles set = graPicture(4);
  const std::string picture = dir.write("CARD.GRA", set.picture);
  dir.write("CARD.RGB", set.palette);
  dir.write("card.E1", set.fourthPlane);
  host::Picture decoded;
  ASSERT_TRUE(host::decode(*plugins.byName("gra"), {picture, {}}, decoded));
  EXPECT_EQ(decoded.info.companions.palette, dir.file("CARD.RGB"));
  EXPECT_EQ(decoded.info.companions.fourthPlane, dir.file("card.E1"));
  EXPECT_EQ(decoded.info.colors, 16);

  const host::CompanionOwner owner = host::ownerOfCompanion(dir.file("CARD.RGB"));
  EXPECT_EQ(owner.picture, picture);
  EXPECT_EQ(owner.role, "palette file");
  EXPECT_EQ(host::ownerOfCompanion(dir.file("card.E1")).role, "fourth-plane file");
  dir.write("Card.rgb", set.palette);  // after CARD.RGB in byte order: not the one used
  EXPECT_EQ(host::ownerOfCompanion(dir.file("Card.rgb")).picture, "");
  EXPECT_EQ(host::filesNamedLike(dir.file("card.rgb")),
            (std::vector<std::string>{dir.file("CARD.RGB"), dir.file("Card.rgb")}));
  dir.write("lonely.rgb", set.palette);
  EXPECT_EQ(host::ownerOfCompanion(dir.file("lonely.rgb")).picture, "");
  EXPECT_EQ(host::companionFiles(host::PictureFormat::Gra, picture),
            (std::vector<std::string>{dir.file("CARD.RGB"), dir.file("card.E1")}));
}

TEST(Printable, EscapesControlsAndBrokenCharacters) {
  struct Case {
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain text", "plain text"},
      {"\x1b[2Jcleared\x07", "\\x1b[2Jcleared\\x07"},
      {"tab\there\nnew\x7f", "tab\\x09here\\x0anew\\x7f"},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e"},
      {"c1 \xc2\x9b"
       "31m",
       "c1 \\xc2\\x9b31m"},  // CSI as a C1 control
      {"\xff\xfe", "\\xff\\xfe"},
      {"cut \xe2\x82", "cut \\xe2\\x82"},
      {"overlong \xc0\x80 \xe0\x80\x80", "overlong \\xc0\\x80 \\xe0\\x80\\x80"},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80"},
      {"Shift-JIS \x83\x65\x83\x58", "Shift-JIS \\x83e\\x83X"},
      {"C:\\x41", "C:\\x5cx41"},  // a backslash is escaped too, so \xNN always means a byte
  };
  for (const Case& c : cases) EXPECT_EQ(host::printable(c.text), c.shown) << c.shown;
}

TEST(ReadPng, SixteenBitSamplesByTheirHighByteWithoutGamma) {
  TempDir dir;
  PngKind kind = pngKind(PNG_COLOR_TYPE_RGB, 16);
  kind.colourChunks = true;
  std::vector<std::vector<std::uint8_t>> rows(2);
  for (auto& row : rows)
    row = {0x55, 0x55, 0xAA, 0xAA, 0x80, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x12, 0x34};
  const std::string path = dir.write("sixteen.png", writePng(kind, 2, 2, rows));
  host::RgbaImage image;
  ASSERT_EQ(said(host::readPng(path, image)), "Ok");
  EXPECT_EQ(image.rgba, (Bytes{0x55, 0xAA, 0x80, 255, 0x00, 0xFF, 0x12, 255, 0x55, 0xAA, 0x80, 255,
                               0x00, 0xFF, 0x12, 255}));
  EXPECT_TRUE(image.opaque);
  EXPECT_TRUE(image.palette.empty());
  EXPECT_EQ(said(host::readPng(path, image, 3)),
            "BadData: the picture is 2 x 2, more than the 3 pixels it may have");
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(said(host::readPng(dir.file("missing.png"), image)),
            "OpenFailed: cannot open (No such file or directory)");
  fs::create_directory(dir.file("folder.png"));
  EXPECT_EQ(said(host::readPng(dir.file("folder.png"), image)), "OpenFailed: is a folder");
}

}  // namespace
