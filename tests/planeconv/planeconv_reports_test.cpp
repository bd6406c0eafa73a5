// SPDX-License-Identifier: MIT
// What planeconv tells a user about a picture: Japanese comments written and read in code page
// 932, pictures that do not decode reported by info, companions passed over for their size, and
// the fixed colours of an 8-colour Q picture.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/little_endian.h"
#include "host/image_files.h"
#include "q/q_format.h"
#include "q/writer/q_writer.h"
#include "tests/planeconv/run_planeconv.h"
#include "tests/planeconv/test_pictures.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = SAMPLES_DIR;

// A 640 x 400 palette PNG in vertical bands, one a colour, left to right.
Bytes bandsPng(const std::vector<RgbQuad>& colors) {
  host::Picture picture;
  picture.info.width = kPictureWidth;
  picture.info.height = kPictureHeight;
  std::copy(colors.begin(), colors.end(), picture.palette.begin());
  picture.pixelBlock.resize(static_cast<std::size_t>(kPictureWidth / 2) * kPictureHeight);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; x += 2) {
      const auto band = [&](int column) {
        return static_cast<std::uint8_t>(column * static_cast<int>(colors.size()) / kPictureWidth);
      };
      picture.pixelBlock[static_cast<std::size_t>(y) * kPictureWidth / 2 + x / 2] =
          static_cast<std::uint8_t>(band(x) << 4 | band(x + 1));
    }
  }
  Bytes png;
  EXPECT_TRUE(host::encodePng(picture, png));
  return png;
}

// The line of info's block that starts with field ("comment:"), without the field.
std::string field(const std::string& out, const std::string& name) {
  const std::size_t at = out.find("  " + name);
  if (at == std::string::npos) return "(no " + name + ")";
  std::size_t from = out.find_first_not_of(' ', at + 2 + name.size());
  return out.substr(from, out.find('\n', from) - from);
}

class PlaneconvReports : public ::testing::Test {
 protected:
  PlaneconvReports() { png = dir.write("art.png", bandsPng({rgb(0, 0, 0), rgb(255, 0, 0)})); }
  TempDir dir;
  std::string png;
};

// --- Comments: code page 932 ------------------------------------------------------------------

TEST_F(PlaneconvReports, JapaneseCommentsAreWrittenInCodePage932AndReadBack) {
  struct Case {
    const char* typed;
    const char* stored;  // the header's first bytes
    const char* shown;
  };
  const Case cases[] = {
      {"日本語のコメント", "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x52\x83\x81\x83\x93\x83\x67",
       "日本語のコメント"},
      {"ｶﾀｶﾅ and ASCII", "\xb6\xc0\xb6\xc5 and ASCII", "ｶﾀｶﾅ and ASCII"},
      // A wave dash as input methods type it: the code page's look-alike.
      {"10〜20",
       "10\x81\x60"
       "20",
       "10～20"},
      // Sixteen double-byte characters fill the 32 bytes exactly.
      {"一二三四五六七八九十百千万億兆京",
       "\x88\xea\x93\xf1\x8e\x4f\x8e\x6c\x8c\xdc\x98\x5a\x8e\xb5\x94\xaa\x8b\xe3\x8f\x5c\x95\x53"
       "\x90\xe7\x96\x9c\x89\xad\x92\x9b\x8b\x9e",
       "一二三四五六七八九十百千万億兆京"},
  };
  for (const Case& c : cases) {
    const std::string q = dir.file("comment.q");
    Outcome encoded = planeconv({"encode", png, q, "--comment", c.typed, "--force"});
    ASSERT_EQ(encoded.exitCode, 0) << c.typed << ": " << encoded.err;
    const Bytes file = fileBytes(q);
    const std::string stored(c.stored);
    EXPECT_EQ(std::string(file.begin(), file.begin() + stored.size()), stored) << c.typed;
    Outcome info = planeconv({"info", q});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(field(info.out, "comment:"), "\"" + std::string(c.shown) + "\"") << info.out;
  }
}

TEST_F(PlaneconvReports, CommentsTheCodePageCannotHoldOrThatDoNotFitAreRefused) {
  struct Case {
    const char* typed;
    const char* said;
  };
  const Case cases[] = {
      {"Café",
       "the comment cannot be written: the 4th character, é (U+00E9), is not in code "
       "page 932"},
      {"猫😺", "the 2nd character, 😺 (U+1F63A), is not in code page 932"},
      {"\xff\xfe", "the comment cannot be written: is not UTF-8 text (byte 0xff at offset 0)"},
      {"一二三四五六七八九十百千万億兆京垓",
       "the comment takes 34 bytes in code page 932, and a Q picture holds 32: "
       "\"一二三四五六七八九十百千万億兆京\" fits"},
      {"abcdefghijklmnopqrstuvwxyz0123456", "the comment takes 33 bytes in code page 932"},
  };
  for (const Case& c : cases) {
    Outcome refused = planeconv({"encode", png, dir.file("no.q"), "--comment", c.typed});
    EXPECT_EQ(refused.exitCode, 2) << c.typed;
    EXPECT_NE(refused.err.find(dir.file("no.q") + ": "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find(c.said), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir.file("no.q"))) << c.typed;
  }
}

TEST_F(PlaneconvReports, CommentBytesThatAreNoCharacterAreShownEscaped) {
  Bytes q = qPicture(16, 5, "placeholder");
  const std::string comment = "\x93\xfa\x96\x7b \x80\xff\\ \x82";  // ends in a lone lead byte
  std::copy(comment.begin(), comment.end(), q.begin());
  std::fill(q.begin() + static_cast<std::ptrdiff_t>(comment.size()),
            q.begin() + qformat::kCommentSize, 0);
  Outcome info = planeconv({"info", dir.write("odd.q", q)});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(field(info.out, "comment:"), "\"日本 \\x80\\xff\\x5c \\x82\"") << info.out;
}

// --- info: whether the picture decodes -----------------------------------------------------------

TEST_F(PlaneconvReports, InfoReportsPicturesThatDoNotDecodeWithTheDecodersReason) {
  const Bytes q = fileBytes(kSamples + "/gradient.q");
  const Bytes gra = fileBytes(kSamples + "/plain.gra");
  // Chunk 0 claims 50 bytes more, and the size field agrees: recognised, then short.
  Bytes lying = q;
  writeLe16(lying.data() + qformat::kChunkLengthsOffset,
            static_cast<std::uint16_t>(readLe16(lying.data() + qformat::kChunkLengthsOffset) + 50));
  const std::uint32_t size = static_cast<std::uint32_t>(q.size() + 50);
  writeLe16(lying.data() + qformat::kFileSizeOffset, static_cast<std::uint16_t>(size & 0xFFFF));
  lying[qformat::kFileSizeOffset + 2] = static_cast<std::uint8_t>(size >> 16);

  struct Case {
    const char* name;
    Bytes bytes;
    std::string reason;
  };
  const Case cases[] = {
      {"trunc.q", Bytes(q.begin(), q.begin() + 9000),
       "the file ends after 9000 bytes, its header and chunks make " + std::to_string(q.size())},
      {"trunc.gra", Bytes(gra.begin(), gra.begin() + 3000),
       "the file ends after 3000 bytes, before the picture's last line pair"},
      {"lie_chunks.q", lying, "the file ends after " + std::to_string(q.size()) + " bytes"},
  };
  std::vector<std::string> arguments = {"info", kSamples + "/gradient.q"};
  for (const Case& c : cases) arguments.push_back(dir.write(c.name, c.bytes));
  Outcome info = planeconv(arguments);
  EXPECT_EQ(info.exitCode, 1);
  EXPECT_NE(info.out.find("gradient.q\n  format:"), std::string::npos) << info.out;
  for (const Case& c : cases) {
    EXPECT_EQ(info.out.find(c.name), std::string::npos) << c.name << " has no details";
    EXPECT_NE(info.err.find(dir.file(c.name) + ": " + c.reason), std::string::npos)
        << c.name << ": " << info.err;
  }
}

// --- Companions passed over for their size
// ----------------------------------------------------------

TEST_F(PlaneconvReports, CompanionsOfTheWrongSizeAreNamedWithTheSizeTheyShouldHave) {
  const Bytes palette = fileBytes(kSamples + "/card.rgb");
  const Bytes plane = fileBytes(kSamples + "/card.e1");
  const std::string card = dir.write("card.gra", fileBytes(kSamples + "/card.gra"));
  dir.write("card.rgb", Bytes(palette.begin(), palette.end() - 1));
  dir.write("card.e1", Bytes(plane.begin(), plane.end() - 1));
  const std::string rgbNote = dir.file("card.rgb") + " ignored: 47 bytes, a palette file is 48";
  const std::string e1Note =
      dir.file("card.e1") + " ignored: 31999 bytes, a fourth-plane file is 32000";

  Outcome info = planeconv({"info", card});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(field(info.out, "palette:"), "default");
  EXPECT_NE(info.out.find("  note:      " + rgbNote + "\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  note:      " + e1Note + "\n"), std::string::npos) << info.out;

  Outcome convert = planeconv({"convert", card, "-d", dir.file("out")});
  EXPECT_EQ(convert.exitCode, 0) << convert.err;
  EXPECT_NE(convert.err.find(card + ": warning: " + rgbNote + "\n"), std::string::npos)
      << convert.err;
  EXPECT_NE(convert.err.find(card + ": warning: " + e1Note + "\n"), std::string::npos);
  Outcome quiet = planeconv({"convert", card, "-d", dir.file("out"), "--force", "-q"});
  EXPECT_EQ(quiet.err, "");

  // A palette file of the right size is taken, and said nothing of; a longer one is noted too.
  dir.write("card.rgb", palette);
  Bytes longer = plane;
  longer.push_back(0);
  dir.write("card.e1", longer);
  info = planeconv({"info", card});
  EXPECT_EQ(field(info.out, "palette:"), dir.file("card.rgb"));
  EXPECT_EQ(info.out.find("card.rgb ignored"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find(dir.file("card.e1") + " ignored: 32001 bytes"), std::string::npos)
      << info.out;
}

// --- The 8 fixed colours of an 8-colour Q picture ----------------------------------------------

TEST_F(PlaneconvReports, EightColourRefusalsListTheFixedColoursAndNearestMapsToThem) {
  // Pure magenta and yellow, which 8-colour Q pictures show only as their pale forms, and black.
  const std::string art =
      dir.write("bright.png", bandsPng({rgb(255, 0, 255), rgb(255, 255, 0), rgb(0, 0, 0)}));
  Outcome refused = planeconv({"encode", art, dir.file("e.q"), "--colors", "8"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("colour (255, 0, 255) at 0, 0 is not one of the 8 fixed colours of "
                             "an 8-colour Q picture: (0, 0, 0), (0, 0, 255), (255, 0, 0), "
                             "(255, 170, 255), (0, 255, 0), (0, 255, 255), (255, 255, 170), "
                             "(255, 255, 255) (--nearest maps each pixel to the nearest of them)"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(dir.file("e.q")));

  Outcome mapped = planeconv({"encode", art, dir.file("e.q"), "--colors", "8", "--nearest"});
  ASSERT_EQ(mapped.exitCode, 0) << mapped.err;
  // Bands of 214, 213 and 213 columns: the first two changed.
  EXPECT_NE(mapped.err.find(art + ": " + std::to_string(427 * 400) +
                            " pixels changed to the nearest of the 8 fixed colours"),
            std::string::npos)
      << mapped.err;
  ASSERT_EQ(planeconv({"convert", dir.file("e.q")}).exitCode, 0);
  host::IndexedImage back;
  ASSERT_TRUE(host::readIndexedPng(fileBytes(dir.file("e.png")), back));
  const auto colourAt = [&](int x) { return back.palette[back.indices[x]]; };
  EXPECT_EQ(colourAt(0), rgb(255, 170, 255));
  EXPECT_EQ(colourAt(300), rgb(255, 255, 170));
  EXPECT_EQ(colourAt(639), rgb(0, 0, 0));

  // A picture already in the fixed colours changes nowhere.
  Outcome none = planeconv({"encode", png, dir.file("f.q"), "--colors", "8", "--nearest"});
  EXPECT_EQ(none.exitCode, 0) << none.err;
  EXPECT_NE(none.err.find(": 0 pixels changed"), std::string::npos) << none.err;

  // --nearest is for the fixed colours only; too many free colours say "an 8-colour picture".
  Outcome gra = planeconv({"encode", art, dir.file("g.gra"), "--colors", "8", "--nearest"});
  EXPECT_EQ(gra.exitCode, 2);
  EXPECT_NE(gra.err.find("--nearest is for 8-colour Q pictures"), std::string::npos) << gra.err;
  std::vector<RgbQuad> nine;
  for (int i = 0; i < 9; ++i) nine.push_back(rgb(static_cast<std::uint8_t>(17 * i), 0, 0));
  Outcome many = planeconv(
      {"encode", dir.write("nine.png", bandsPng(nine)), dir.file("g.gra"), "--colors", "8"});
  EXPECT_EQ(many.exitCode, 1);
  EXPECT_NE(many.err.find("9 colours after reduction to 4 bits per channel; an 8-colour picture "
                          "holds at most 8"),
            std::string::npos)
      << many.err;
}

}  // namespace
