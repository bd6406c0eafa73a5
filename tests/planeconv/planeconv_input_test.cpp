// SPDX-License-Identifier: MIT
// planeconv reads what users have, exactly: every kind of PNG with its stored values and palette
// order, companions whatever their letter case, --as under the plug-in's own checks, standard
// input, no more of a file than its format can describe, text from files shown safely, and
// companion files among the inputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <random>
#include <thread>

#include "gra/gra_format.h"
#include "host/image_files.h"
#include "q/q_format.h"
#include "tests/planeconv/run_planeconv.h"
#include "tests/planeconv/test_pictures.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = SAMPLES_DIR;

host::IndexedImage readBack(const std::string& png) {
  host::IndexedImage image;
  const host::Result r = host::readIndexedPng(fileBytes(png), image);
  EXPECT_TRUE(r) << png << ": " << r.reason;
  return image;
}

// Colour k of the test pattern, as 4-bit red, green and blue.
std::array<int, 3> nibbles(int k) {
  return {k, 15 - k, (k * 7) % 16};
}

// Samples of the given depth, packed into a row as PNG lays them out (high bits first).
void pack(std::vector<std::uint8_t>& row, int depth, unsigned value, std::size_t& bit) {
  if (depth == 16) {
    row.push_back(static_cast<std::uint8_t>(value >> 8));
    row.push_back(static_cast<std::uint8_t>(value));
    return;
  }
  if (depth == 8) {
    row.push_back(static_cast<std::uint8_t>(value));
    return;
  }
  if (bit % 8 == 0) row.push_back(0);
  row.back() |= static_cast<std::uint8_t>(value << (8 - depth - bit % 8));
  bit += static_cast<std::size_t>(depth);
}

// A 640 x 400 PNG of the given kind drawn from the 16-colour pattern, and the colour each
// pixel must come out as: the stored values reduced to 4 bits, never gamma-corrected.
struct KindPicture {
  Bytes png;
  std::vector<RgbQuad> expected;
};

KindPicture drawKind(PngKind kind) {
  const int depth = kind.bitDepth;
  const bool palette = kind.colorType == PNG_COLOR_TYPE_PALETTE;
  const bool grey = !(kind.colorType & PNG_COLOR_MASK_COLOR);
  const bool alpha = kind.colorType & PNG_COLOR_MASK_ALPHA;
  const unsigned top = (1u << depth) - 1;  // the largest sample
  const int entries = std::min(16, 1 << depth);
  if (palette) {
    for (int i = 0; i < entries; ++i) {
      const auto n = nibbles(i);
      kind.palette.push_back({static_cast<png_byte>(n[0] * 17), static_cast<png_byte>(n[1] * 17),
                              static_cast<png_byte>(n[2] * 17)});
    }
  }
  KindPicture picture;
  std::vector<std::vector<std::uint8_t>> rows(kPictureHeight);
  for (int y = 0; y < kPictureHeight; ++y) {
    std::size_t bit = 0;
    for (int x = 0; x < kPictureWidth; ++x) {
      const int k = (x / 40 + y / 25) % 16;
      std::array<int, 3> n = nibbles(k);
      if (palette) {
        pack(rows[y], depth, static_cast<unsigned>(k % entries), bit);
        n = nibbles(k % entries);
      } else if (grey) {
        // A grey level of the depth; n is the 4-bit value it stands for.
        const unsigned level = depth >= 4 ? static_cast<unsigned>(k) * (depth == 4 ? 1 : top / 15)
                                          : static_cast<unsigned>(k) % (top + 1);
        const int g = depth >= 4 ? k : static_cast<int>(level * 15 / top);
        pack(rows[y], depth, level, bit);
        n = {g, g, g};
      } else {
        for (int c = 0; c < 3; ++c)
          pack(rows[y], depth, static_cast<unsigned>(n[c]) * (top / 15), bit);
      }
      if (alpha) pack(rows[y], depth, top, bit);
      picture.expected.push_back(rgb(static_cast<std::uint8_t>(n[0] * 17),
                                     static_cast<std::uint8_t>(n[1] * 17),
                                     static_cast<std::uint8_t>(n[2] * 17)));
    }
  }
  picture.png = writePng(kind, kPictureWidth, kPictureHeight, rows);
  return picture;
}

class PlaneconvInput : public ::testing::Test {
 protected:
  TempDir dir;
};

// 16-bit samples by their high byte, never through a gamma curve: 0x5555 is 0x55, 0xAAAA 0xAA.
TEST_F(PlaneconvInput, EveryPngKindKeepsItsStoredValues) {
  struct Case {
    const char* name;
    PngKind kind;
  };
  std::vector<Case> cases;
  for (int depth : {1, 2, 4, 8})
    cases.push_back({"palette", pngKind(PNG_COLOR_TYPE_PALETTE, depth)});
  for (int depth : {1, 2, 4, 8, 16}) cases.push_back({"grey", pngKind(PNG_COLOR_TYPE_GRAY, depth)});
  for (int depth : {8, 16}) {
    cases.push_back({"grey+alpha", pngKind(PNG_COLOR_TYPE_GRAY_ALPHA, depth)});
    cases.push_back({"rgb", pngKind(PNG_COLOR_TYPE_RGB, depth)});
    cases.push_back({"rgba", pngKind(PNG_COLOR_TYPE_RGB_ALPHA, depth)});
  }
  // Interlaced, and with every chunk a viewer applies or that marks transparency.
  Case interlaced{"rgb interlaced", pngKind(PNG_COLOR_TYPE_RGB, 16)};
  interlaced.kind.interlaced = true;
  cases.push_back(interlaced);
  Case chunks{"rgb with gAMA, cHRM, sRGB, iCCP, tRNS", pngKind(PNG_COLOR_TYPE_RGB, 16)};
  chunks.kind.colourChunks = true;
  chunks.kind.transparentColor = true;
  chunks.kind.transparent.red = chunks.kind.transparent.green = 0x1234;  // not in the picture
  cases.push_back(chunks);
  Case paletteChunks{"palette with tRNS and colour chunks", pngKind(PNG_COLOR_TYPE_PALETTE, 4)};
  paletteChunks.kind.paletteAlpha.assign(16, 255);
  paletteChunks.kind.colourChunks = true;
  paletteChunks.kind.interlaced = true;
  cases.push_back(paletteChunks);

  for (const Case& c : cases) {
    const std::string label = std::string(c.name) + " " + std::to_string(c.kind.bitDepth);
    SCOPED_TRACE(label);
    const KindPicture picture = drawKind(c.kind);
    ASSERT_FALSE(picture.png.empty());
    dir.write("in.png", picture.png);
    for (const char* target : {"out.q", "out.gra"}) {
      Outcome encode = planeconv({"encode", dir.file("in.png"), dir.file(target), "--force"});
      ASSERT_EQ(encode.exitCode, 0) << target << ": " << encode.err;
      EXPECT_EQ(encode.err.find("transparency"), std::string::npos) << encode.err;
      Outcome convert =
          planeconv({"convert", dir.file(target), "-o", dir.file("back.png"), "--force"});
      ASSERT_EQ(convert.exitCode, 0) << convert.err;
      const host::IndexedImage back = readBack(dir.file("back.png"));
      ASSERT_EQ(back.indices.size(), picture.expected.size());
      std::size_t wrong = 0;
      for (std::size_t i = 0; i < back.indices.size(); ++i)
        wrong += back.palette[back.indices[i]] != picture.expected[i];
      EXPECT_EQ(wrong, 0u) << target;
    }
  }
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvInput, TransparencyIsIgnoredWithOneWarning) {
  PngKind kind = pngKind(PNG_COLOR_TYPE_RGB_ALPHA, 8);
  KindPicture picture = drawKind(kind);
  // Some pixels half and wholly transparent: their colours are kept as stored.
  std::vector<std::vector<std::uint8_t>> rows(kPictureHeight, std::vector<std::uint8_t>());
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x) {
      const RgbQuad& c = picture.expected[static_cast<std::size_t>(y) * kPictureWidth + x];
      rows[y].insert(rows[y].end(), {c.red, c.green, c.blue});
      rows[y].push_back(y < 10 ? static_cast<std::uint8_t>(x % 3 * 100) : 255);
    }
  dir.write("alpha.png", writePng(kind, kPictureWidth, kPictureHeight, rows));
  Outcome encode = planeconv({"encode", dir.file("alpha.png"), dir.file("alpha.q")});
  ASSERT_EQ(encode.exitCode, 0) << encode.err;
  const std::size_t first = encode.err.find("transparency is ignored");
  ASSERT_NE(first, std::string::npos) << encode.err;
  EXPECT_EQ(encode.err.find("transparency", first + 1), std::string::npos) << "one warning";
  ASSERT_EQ(planeconv({"convert", dir.file("alpha.q"), "-o", dir.file("back.png")}).exitCode, 0);
  const host::IndexedImage back = readBack(dir.file("back.png"));
  for (std::size_t i = 0; i < back.indices.size(); ++i)
    ASSERT_EQ(back.palette[back.indices[i]], picture.expected[i]) << i;
  EXPECT_TRUE(planeconv({"encode", "-q", dir.file("alpha.png"), dir.file("quiet.q")}).err.empty());
}

// Where the format lets the colours be chosen, a palette PNG's order survives encode and
// convert: the same indices, the same palette entries in the same places.
TEST_F(PlaneconvInput, APalettePngKeepsItsIndexOrder) {
  const std::vector<png_color> colours = {{0xFF, 0xFF, 0xFF},
                                          {0x11, 0x22, 0x33},
                                          {0xFF, 0x00, 0x00},
                                          {0x00, 0x00, 0x00},
                                          {0x77, 0x88, 0x99}};
  std::vector<std::vector<std::uint8_t>> rows(kPictureHeight);
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x)
      rows[y].push_back(static_cast<std::uint8_t>((x / 64 + y / 40) % colours.size()));
  // Five entries, and the same five at the head of a 256-entry palette as editors store it.
  for (std::size_t entries : {colours.size(), std::size_t(256)}) {
    PngKind kind = pngKind(PNG_COLOR_TYPE_PALETTE, 8);
    kind.palette = colours;
    kind.palette.resize(entries, png_color{0x12, 0x34, 0x56});
    dir.write("five.png", writePng(kind, kPictureWidth, kPictureHeight, rows));
    for (const std::vector<std::string>& encode :
         {std::vector<std::string>{"five.q"}, {"five.gra"}, {"eight.gra", "--colors", "8"}}) {
      SCOPED_TRACE(encode[0] + " of a palette of " + std::to_string(entries));
      std::vector<std::string> arguments = {"encode", dir.file("five.png"), dir.file(encode[0]),
                                            "--force"};
      arguments.insert(arguments.end(), encode.begin() + 1, encode.end());
      ASSERT_EQ(planeconv(arguments).exitCode, 0);
      ASSERT_EQ(planeconv({"convert", dir.file(encode[0]), "-o", dir.file("back.png"), "--force"})
                    .exitCode,
                0);
      const host::IndexedImage back = readBack(dir.file("back.png"));
      for (std::size_t i = 0; i < colours.size(); ++i)
        EXPECT_EQ(back.palette[i], rgb(colours[i].red, colours[i].green, colours[i].blue)) << i;
      for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
          ASSERT_EQ(back.indices[static_cast<std::size_t>(y) * kPictureWidth + x], rows[y][x]);
    }
  }
}

// CARD.GRA finds CARD.RGB and CARD.E1 as on Windows; of several names differing in case only,
// the first in byte order.
TEST_F(PlaneconvInput, CompanionsAreFoundWhateverTheirLetterCase) {
  const GraFiles set = graPicture(5);
  dir.write("lower.gra", set.picture);
  dir.write("lower.rgb", set.palette);
  dir.write("lower.e1", set.fourthPlane);
  dir.write("CARD.GRA", set.picture);
  dir.write("CARD.RGB", set.palette);
  dir.write("CARD.E1", set.fourthPlane);
  ASSERT_EQ(planeconv({"convert", dir.file("lower.gra"), dir.file("CARD.GRA")}).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("CARD.png")), fileBytes(dir.file("lower.png")));
  Outcome info = planeconv({"info", dir.file("CARD.GRA")});
  EXPECT_NE(info.out.find("colours:   16"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("palette:   " + dir.file("CARD.RGB")), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("4th plane: " + dir.file("CARD.E1")), std::string::npos) << info.out;

  // A second palette named Card.rgb: "CARD.RGB" < "Card.rgb" in byte order, so CARD.RGB stays
  // the one used; once it is gone, Card.rgb is.
  Bytes grey(48, 8);
  dir.write("Card.rgb", grey);
  info = planeconv({"info", dir.file("CARD.GRA")});
  EXPECT_NE(info.out.find("palette:   " + dir.file("CARD.RGB")), std::string::npos) << info.out;
  ASSERT_EQ(planeconv({"convert", dir.file("CARD.GRA"), "-o", dir.file("two.png")}).exitCode, 0);
  EXPECT_EQ(fileBytes(dir.file("two.png")), fileBytes(dir.file("lower.png")));
  fs::remove(dir.file("CARD.RGB"));
  info = planeconv({"info", dir.file("CARD.GRA")});
  EXPECT_NE(info.out.find("palette:   " + dir.file("Card.rgb")), std::string::npos) << info.out;
  ASSERT_EQ(planeconv({"convert", dir.file("CARD.GRA"), "-o", dir.file("grey.png")}).exitCode, 0);
  EXPECT_EQ(readBack(dir.file("grey.png")).palette[3], rgb(0x88, 0x88, 0x88));
}

TEST_F(PlaneconvInput, AsKeepsThePluginsOwnChecks) {
  Outcome q = planeconv({"info", "--as", "gra", kSamples + "/eight.q"});
  EXPECT_EQ(q.exitCode, 1);
  EXPECT_NE(q.err.find("not a GRA picture: no \"WED\" signature at byte 13 (use --as q"),
            std::string::npos)
      << q.err;
  EXPECT_TRUE(q.out.empty());

  // Random bytes are refused as either format.
  Bytes noise(3 << 20);
  std::mt19937 random(7);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  dir.write("noise.q", noise);
  for (const char* as : {"q", "gra"}) {
    Outcome run = planeconv({"convert", "--as", as, dir.file("noise.q"), "-d", dir.file("out")});
    EXPECT_EQ(run.exitCode, 1) << as;
    EXPECT_NE(run.err.find("noise.q: not a"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(dir.file("out")));

  // A GRA picture named .q: the message tells what it looks like and how to read it.
  fs::copy_file(kSamples + "/plain.gra", dir.file("card.q"));
  Outcome lying = planeconv({"convert", dir.file("card.q")});
  EXPECT_EQ(lying.exitCode, 1);
  EXPECT_NE(lying.err.find("card.q: not a Q picture: no \"MAJYO\" signature at byte 43; it looks "
                           "like a GRA picture (use --as gra to read it as one)"),
            std::string::npos)
      << lying.err;
  EXPECT_EQ(planeconv({"convert", "--as", "gra", dir.file("card.q")}).exitCode, 0);
  expectNoTemporaries(dir.file(""));
}

TEST_F(PlaneconvInput, StandardInputIsReadFromAPipe) {
  const Bytes q = fileBytes(kSamples + "/eight.q");
  const Bytes gra = fileBytes(kSamples + "/plain.gra");
  ASSERT_EQ(planeconv({"convert", kSamples + "/eight.q", "-o", dir.file("file.png")}).exitCode, 0);

  Outcome info = planeconv({"info", "-"}, withInput(q));
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("standard input\n  format:    Q(4bit)"), std::string::npos) << info.out;
  // The name of a pipe: read once, from memory.
  info = planeconv({"info", "--as", "q", "/dev/stdin"}, withInput(q));
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("Eight fixed colours"), std::string::npos) << info.out;

  Outcome convert = planeconv({"convert", "-", "-o", dir.file("pipe.png")}, withInput(q));
  EXPECT_EQ(convert.exitCode, 0) << convert.err;
  EXPECT_EQ(fileBytes(dir.file("pipe.png")), fileBytes(dir.file("file.png")));
  // Standard input to standard output; a GRA picture from a pipe has no companions.
  Outcome through = planeconv({"convert", "-", "-o", "-"}, withInput(q));
  EXPECT_EQ(through.exitCode, 0);
  EXPECT_EQ(Bytes(through.out.begin(), through.out.end()), fileBytes(dir.file("file.png")));
  Outcome graInfo = planeconv({"info", "--as", "gra", "-"}, withInput(gra));
  EXPECT_NE(graInfo.out.find("palette:   default"), std::string::npos) << graInfo.out;
  // Redirected from a file it is still standard input.
  EXPECT_EQ(planeconv({"info", "-"}, inputFrom(kSamples + "/gradient.q")).exitCode, 0);

  Outcome noise = planeconv({"info", "-"}, withInput(Bytes(100, 'x')));
  EXPECT_EQ(noise.exitCode, 1);
  EXPECT_NE(noise.err.find("standard input: not a GRA or Q picture: no \"WED\" signature at byte "
                           "13 (GRA); no \"MAJYO\" signature at byte 43 (Q)"),
            std::string::npos)
      << noise.err;
  EXPECT_EQ(planeconv({"convert", "-"}, withInput(q)).exitCode, 2) << "standard input needs -o";
  EXPECT_EQ(planeconv({"info", "-", "-"}, withInput(q)).exitCode, 2);
  expectNoTemporaries(dir.file(""));
}

// Feeds a fifo with data and then junk for as long as planeconv reads, through a pipe of one
// page; answers how much the pipe took: what planeconv read and at most one page more.
std::size_t bytesTaken(const std::string& fifo, const Bytes& data, Outcome& outcome,
                       const std::vector<std::string>& arguments, std::size_t& slack) {
  std::signal(SIGPIPE, SIG_IGN);
  std::size_t taken = 0;
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    fcntl(fd, F_SETPIPE_SZ, 4096);
    slack = static_cast<std::size_t>(fcntl(fd, F_GETPIPE_SZ));
    const Bytes junk(4096, 0xA5);
    while (taken < (64u << 20)) {
      const bool inData = taken < data.size();
      const ssize_t n = inData ? ::write(fd, data.data() + taken, data.size() - taken)
                               : ::write(fd, junk.data(), junk.size());
      if (n <= 0) break;
      taken += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  outcome = planeconv(arguments);
  writer.join();
  return taken;
}

TEST_F(PlaneconvInput, NoMoreIsReadThanTheLargestPictureOfTheFormat) {
  const std::string fifo = dir.file("feed.q");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Outcome outcome;
  std::size_t slack = 0;
  // Junk is refused after the first block IsSupported sees.
  std::size_t taken = bytesTaken(fifo, {}, outcome, {"info", "--as", "q", fifo}, slack);
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_LE(taken, kRecognitionBlockSize + slack);
  EXPECT_GE(taken, static_cast<std::size_t>(kRecognitionBlockSize));
  // A picture followed by junk is read up to the largest picture of its format.
  const Bytes q = fileBytes(kSamples + "/gradient.q");
  taken = bytesTaken(fifo, q, outcome, {"info", fifo}, slack);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_LE(taken, qformat::kLargestFile + slack);
  EXPECT_GE(taken, qformat::kLargestFile);
  const Bytes gra = fileBytes(kSamples + "/plain.gra");
  taken = bytesTaken(fifo, gra, outcome, {"info", "--as", "gra", fifo}, slack);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_LE(taken, kGraLargestFile + slack);

  // Regular files with padding after the picture convert as without it.
  Bytes padded = q;
  padded.resize(q.size() + (5 << 20), 0);
  dir.write("padded.q", padded);
  Bytes junkGra = gra;
  junkGra.resize(gra.size() + (1 << 20), 0x5A);
  dir.write("junk.gra", junkGra);
  dir.write("clean.gra", gra);
  ASSERT_EQ(planeconv({"convert", dir.file("padded.q"), dir.file("junk.gra"), dir.file("clean.gra"),
                       kSamples + "/gradient.q", "-d", dir.file("out")})
                .exitCode,
            0);
  EXPECT_EQ(fileBytes(dir.file("out/padded.png")), fileBytes(dir.file("out/gradient.png")));
  EXPECT_EQ(fileBytes(dir.file("out/junk.png")), fileBytes(dir.file("out/clean.png")));
}

TEST_F(PlaneconvInput, TextFromFilesIsShownWithControlCharactersEscaped) {
  Bytes q = qPicture(16, 3, "A comment");
  const char comment[] = "Red \x1b[31mX\x07 \x9b";
  std::copy(comment, comment + sizeof comment - 1, q.begin());
  const std::string name = dir.write("clear\x1b[2J\xc2\x9b\xe2\x82\xac.q", q);
  Outcome info = planeconv({"info", name});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(info.all().find('\x1b'), std::string::npos);
  EXPECT_EQ(info.all().find('\x07'), std::string::npos);
  EXPECT_NE(info.out.find("clear\\x1b[2J\\xc2\\x9b\xe2\x82\xac.q"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("comment:   \"Red \\x1b[31mX\\x07 \\x9b\""), std::string::npos)
      << info.out;
  // In messages too.
  const std::string bad = dir.write("bad\x1b]0;title\x07.q", {1, 2, 3});
  Outcome failed = planeconv({"convert", bad});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.all().find('\x1b'), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("bad\\x1b]0;title\\x07.q: "), std::string::npos) << failed.err;
}

TEST_F(PlaneconvInput, CompanionFilesAmongTheInputsArePassedOver) {
  for (const char* name : {"card.gra", "card.rgb", "card.e1", "window.gra", "window.e1"})
    fs::copy_file(kSamples + "/" + name, dir.file(name));
  Outcome all = planeconv({"info", dir.file("card.gra"), dir.file("card.rgb"), dir.file("card.e1"),
                           dir.file("window.e1"), dir.file("window.gra")});
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_TRUE(all.err.empty()) << all.err;
  Outcome convert = planeconv({"convert", dir.file("card.rgb"), dir.file("card.gra"),
                               dir.file("card.e1"), "-d", dir.file("out")});
  EXPECT_EQ(convert.exitCode, 0);
  EXPECT_NE(convert.err.find("converted 1 of 1 picture"), std::string::npos) << convert.err;

  Outcome alone = planeconv({"info", dir.file("card.rgb"), dir.file("window.e1")});
  EXPECT_EQ(alone.exitCode, 0);
  EXPECT_NE(alone.err.find("card.rgb: the palette file of " + dir.file("card.gra")),
            std::string::npos)
      << alone.err;
  EXPECT_NE(alone.err.find("window.e1: the fourth-plane file of " + dir.file("window.gra")),
            std::string::npos)
      << alone.err;
  // A file with a companion's extension but no picture beside it is just not a picture.
  dir.write("lonely.rgb", Bytes(48));
  Outcome lonely = planeconv({"info", dir.file("lonely.rgb")});
  EXPECT_EQ(lonely.exitCode, 1);
  EXPECT_NE(lonely.err.find("not a GRA or Q picture"), std::string::npos) << lonely.err;
}

}  // namespace
