// SPDX-License-Identifier: MIT
// planeconv end to end: the commands as a user runs them, their files, messages and exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "gra/writer/gra_writer.h"
#include "host/files.h"
#include "host/image_files.h"
#include "q/writer/q_writer.h"
#include "tests/planeconv/run_planeconv.h"
#include "tests/planeconv/test_pictures.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// planeconv through the shell, standard error with standard output.
Outcome planeconv(const std::string& arguments) {
  std::string command = std::string(PLANECONV) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Outcome outcome;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) outcome.out.append(buffer, n);
  int status = pclose(pipe);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

std::string shellQuote(const std::string& path) {
  return "'" + path + "'";
}

host::IndexedImage readBack(const std::string& png) {
  host::IndexedImage image;
  const host::Result r = host::readIndexedPng(fileBytes(png), image);
  EXPECT_TRUE(r) << png << ": " << r.reason;
  return image;
}

class Planeconv : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(Planeconv, ConvertsEverySampleToAPaletteIndexedPng) {
  for (const char* sample : {"card.gra", "plain.gra", "window.gra", "gradient.q", "eight.q"}) {
    std::string out = dir.file(std::string(sample) + ".png");
    Outcome run = planeconv("convert " + shellQuote(std::string(SAMPLES_DIR) + "/" + sample) +
                            " -o " + shellQuote(out));
    EXPECT_EQ(run.exitCode, 0) << sample << ": " << run.out;
    host::IndexedImage image = readBack(out);
    EXPECT_EQ(image.width, 640) << sample;
    EXPECT_EQ(image.height, 400) << sample;
    EXPECT_EQ(image.palette.size(), 16u) << sample;
  }
}

TEST_F(Planeconv, GraWithCompanionsRoundTripsThroughThePng) {
  const GraPicture picture = pictures::graPicture(pictures::Scene::Busy, 1);
  GraFiles files = writeGra(picture);
  dir.write("pic.gra", files.picture);
  dir.write("pic.rgb", files.palette);
  dir.write("pic.e1", files.fourthPlane);

  Outcome run = planeconv("convert " + shellQuote(dir.file("pic.gra")));
  ASSERT_EQ(run.exitCode, 0) << run.out;
  host::IndexedImage image = readBack(dir.file("pic.png"));
  EXPECT_TRUE(std::equal(image.indices.begin(), image.indices.end(), picture.pixels.begin()));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(image.palette[i], rgb(picture.colors[i].red * 17, picture.colors[i].green * 17,
                                    picture.colors[i].blue * 17))
        << i;
  }

  Outcome info = planeconv("info " + shellQuote(dir.file("pic.gra")));
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_NE(info.out.find("colours:   16"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("pic.rgb"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("pic.e1"), std::string::npos) << info.out;
}

TEST_F(Planeconv, EncodeThenConvertGivesTheSamePixelsForEveryKind) {
  // A PNG made by planeconv itself from a Q picture is the input of each encode.
  const QPicture source = pictures::qPicture(pictures::Scene::Busy, 2);
  dir.write("source.q", writeQ(source).picture);
  ASSERT_EQ(planeconv("convert " + shellQuote(dir.file("source.q"))).exitCode, 0);
  host::IndexedImage original = readBack(dir.file("source.png"));

  for (const char* target : {"again.q", "again.gra"}) {
    Outcome encode = planeconv("encode " + shellQuote(dir.file("source.png")) + " " +
                               shellQuote(dir.file(target)) +
                               (std::string(target) == "again.q" ? " --comment 'Round trip'" : ""));
    ASSERT_EQ(encode.exitCode, 0) << target << ": " << encode.out;
    std::string png = dir.file(std::string(target) + ".png");
    ASSERT_EQ(
        planeconv("convert " + shellQuote(dir.file(target)) + " -o " + shellQuote(png)).exitCode,
        0);
    host::IndexedImage again = readBack(png);
    // Indices may be numbered differently; the colour of every pixel must be the same.
    for (std::size_t i = 0; i < original.indices.size(); ++i) {
      ASSERT_EQ(again.palette[again.indices[i]], original.palette[original.indices[i]])
          << target << " pixel " << i;
    }
  }
  Outcome info = planeconv("info " + shellQuote(dir.file("again.q")));
  EXPECT_NE(info.out.find("\"Round trip\""), std::string::npos) << info.out;
}

TEST_F(Planeconv, EightColourQUsesTheFixedColours) {
  QPicture source;
  source.pixels = pictures::draw(pictures::Scene::Busy, 8, 3);
  source.eightColors = true;
  dir.write("eight.q", writeQ(source).picture);
  ASSERT_EQ(planeconv("convert " + shellQuote(dir.file("eight.q"))).exitCode, 0);
  Outcome encode = planeconv("encode " + shellQuote(dir.file("eight.png")) + " " +
                             shellQuote(dir.file("copy.q")) + " --colors 8");
  ASSERT_EQ(encode.exitCode, 0) << encode.out;
  ASSERT_EQ(planeconv("convert " + shellQuote(dir.file("copy.q"))).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("copy.png")), fileBytes(dir.file("eight.png")));
  EXPECT_NE(planeconv("info " + shellQuote(dir.file("copy.q"))).out.find("colours:   8"),
            std::string::npos);
}

TEST_F(Planeconv, BmpHoldsTheBitmapAsHandedOver) {
  std::string out = dir.file("card.bmp");
  ASSERT_EQ(planeconv("convert " + shellQuote(std::string(SAMPLES_DIR) + "/card.gra") +
                      " --format bmp -o " + shellQuote(out))
                .exitCode,
            0);
  Bytes bmp = fileBytes(out);
  ASSERT_EQ(bmp.size(), 14u + 104 + 128000);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(bmp[10], 118);  // pixels after the file header and the 104-byte information block
  EXPECT_EQ(bmp[14], 40);
}

TEST_F(Planeconv, SeveralFilesOnSeveralThreadsGiveTheSameFiles) {
  std::string inputs;
  for (int i = 0; i < 6; ++i) {
    QPicture picture;
    picture.pixels = pictures::draw(pictures::Scene::Busy, 16, 10 + i);
    std::string name = "p" + std::to_string(i) + ".q";
    dir.write(name, writeQ(picture).picture);
    inputs += " " + shellQuote(dir.file(name));
  }
  Outcome one = planeconv("convert" + inputs + " -d " + shellQuote(dir.file("one")) + " -j 1");
  Outcome two = planeconv("convert" + inputs + " -d " + shellQuote(dir.file("two")) + " -j 2");
  ASSERT_EQ(one.exitCode, 0) << one.out;
  ASSERT_EQ(two.exitCode, 0) << two.out;
  EXPECT_NE(two.out.find("converted 6 of 6 pictures"), std::string::npos) << two.out;
  for (int i = 0; i < 6; ++i) {
    std::string name = "/p" + std::to_string(i) + ".png";
    EXPECT_EQ(fileBytes(dir.file("one") + name), fileBytes(dir.file("two") + name)) << name;
  }
}

TEST_F(Planeconv, ErrorsNameTheFileAndTheCause) {
  Bytes q = fileBytes(std::string(SAMPLES_DIR) + "/gradient.q");
  Bytes gra = fileBytes(std::string(SAMPLES_DIR) + "/plain.gra");
  dir.write("short.q", Bytes(q.begin(), q.end() - 2));
  Bytes wrongSize = q;
  wrongSize[40] ^= 1;
  dir.write("size.q", wrongSize);
  dir.write("short.gra", Bytes(gra.begin(), gra.begin() + gra.size() / 2));
  dir.write("notes.txt", {'h', 'i'});
  struct Case {
    std::string arguments;
    std::string message;
  } cases[] = {
      {"convert " + shellQuote(dir.file("missing.q")), "missing.q: cannot open"},
      {"convert " + shellQuote(dir.file("notes.txt")), "notes.txt: not a GRA or Q picture"},
      {"convert " + shellQuote(dir.file("size.q")),
       "size.q: not a Q picture: the size field says 17464 bytes, header and chunks make 17465"},
      {"convert " + shellQuote(dir.file("short.gra")),
       "short.gra: the file ends after 1551 bytes, before the picture's last line pair"},
      {"info " + shellQuote(dir.file("missing.gra")), "missing.gra: cannot open"},
      {"encode " + shellQuote(dir.file("notes.txt")) + " " + shellQuote(dir.file("x.q")),
       "notes.txt: not a readable PNG"},
  };
  for (const Case& c : cases) {
    Outcome run = planeconv(c.arguments);
    EXPECT_EQ(run.exitCode, 1) << c.arguments;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << c.arguments << "\n" << run.out;
  }
  // Truncated chunks: the header passes recognition, the chunks then run short; the reason tells
  // that apart from a failed check.
  Outcome shortQ = planeconv("convert " + shellQuote(dir.file("short.q")) + " --as q");
  EXPECT_EQ(shortQ.exitCode, 1);
  EXPECT_NE(
      shortQ.out.find("short.q: the file ends after 17463 bytes, its header and chunks make 17465"),
      std::string::npos)
      << shortQ.out;
  for (const char* left : {"short.png", "size.png", "notes.png", "missing.png", "x.q"})
    EXPECT_FALSE(fs::exists(dir.file(left))) << left << " was left behind";
}

TEST_F(Planeconv, AsReadsPicturesStoredUnderAnotherName) {
  fs::copy_file(std::string(SAMPLES_DIR) + "/eight.q", dir.file("eight.dat"));
  EXPECT_EQ(planeconv("convert " + shellQuote(dir.file("eight.dat"))).exitCode, 1);
  Outcome run = planeconv("convert --as q " + shellQuote(dir.file("eight.dat")));
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(fs::exists(dir.file("eight.png")));
}

TEST_F(Planeconv, ExistingOutputsAreKeptUnlessForced) {
  std::string sample = shellQuote(std::string(SAMPLES_DIR) + "/eight.q");
  dir.write("out.png", {'o', 'l', 'd'});
  Outcome refused = planeconv("convert " + sample + " -o " + shellQuote(dir.file("out.png")));
  // Left alone as an earlier run's output would be: said once, and no failure.
  EXPECT_EQ(refused.exitCode, 0);
  EXPECT_NE(refused.out.find("already exists (use --force to replace it)"), std::string::npos)
      << refused.out;
  EXPECT_EQ(fileBytes(dir.file("out.png")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(planeconv("convert " + sample + " -o " + shellQuote(dir.file("out.png")) + " --force")
                .exitCode,
            0);
  EXPECT_EQ(readBack(dir.file("out.png")).width, 640);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("")), fs::directory_iterator()), 1)
      << "no temporary file left";
}

TEST_F(Planeconv, EncodeRefusesPngsThatDoNotFit) {
  // Too many colours, and 320 x 200, made with planeconv's own PNG writer.
  QPicture many;
  many.pixels = pictures::draw(pictures::Scene::Busy, 16, 4);
  for (int i = 0; i < 16; ++i)
    many.palette[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(15 - i), 3};
  dir.write("many.q", writeQ(many).picture);
  ASSERT_EQ(planeconv("convert " + shellQuote(dir.file("many.q"))).exitCode, 0);
  Outcome eight = planeconv("encode " + shellQuote(dir.file("many.png")) + " " +
                            shellQuote(dir.file("e.q")) + " --colors 8");
  EXPECT_EQ(eight.exitCode, 1);
  EXPECT_NE(eight.out.find("not one of the 8 fixed colours"), std::string::npos) << eight.out;
  Outcome gra = planeconv("encode " + shellQuote(dir.file("many.png")) + " " +
                          shellQuote(dir.file("e.gra")) + " --colors 8");
  EXPECT_EQ(gra.exitCode, 1);
  EXPECT_NE(gra.out.find("colours after reduction to 4 bits per channel"), std::string::npos)
      << gra.out;
  EXPECT_FALSE(fs::exists(dir.file("e.gra")));
  EXPECT_FALSE(fs::exists(dir.file("e.rgb")));
  host::Picture small;
  small.info.width = 320;
  small.info.height = 200;
  small.pixelBlock.assign(160 * 200, 0x12);
  Bytes png;
  ASSERT_TRUE(host::encodePng(small, png));
  dir.write("small.png", png);
  Outcome size =
      planeconv("encode " + shellQuote(dir.file("small.png")) + " " + shellQuote(dir.file("s.q")));
  EXPECT_EQ(size.exitCode, 1);
  EXPECT_NE(size.out.find("small.png: the picture is 320 x 200"), std::string::npos) << size.out;
  Outcome comment = planeconv("encode " + shellQuote(dir.file("many.png")) + " " +
                              shellQuote(dir.file("c.gra")) + " --comment hello");
  EXPECT_EQ(comment.exitCode, 2);
}

TEST_F(Planeconv, HelpAndVersion) {
  for (const char* command : {"info", "convert", "encode"}) {
    Outcome run = planeconv(std::string(command) + " --help");
    EXPECT_EQ(run.exitCode, 0) << command;
    EXPECT_NE(run.out.find(std::string("usage: planeconv ") + command), std::string::npos);
  }
  EXPECT_EQ(planeconv("--version").exitCode, 0);
  EXPECT_EQ(planeconv("").exitCode, 2);
  EXPECT_EQ(planeconv("frobnicate").exitCode, 2);
  EXPECT_EQ(planeconv("convert -j 0 x.q").exitCode, 2);
}

}  // namespace
