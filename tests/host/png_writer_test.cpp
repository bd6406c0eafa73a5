// SPDX-License-Identifier: MIT
// The PNG writer: every picture the format writers make, and the samples, read back through
// libpng to the decoded pixels and palette, from encodePng and from libdeflate's levels alone;
// RGB images with text chunks read back with every row filter in use; what a PNG cannot hold
// refused in words.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <png.h>

#include <array>
#include <random>

#include "host/files.h"
#include "host/image_files.h"
#include "host/picture.h"
#include "host/png_writer.h"
#include "tests/support/pictures.h"
#include "tests/support/test_support.h"

namespace {

std::uint32_t be32(const Bytes& bytes, std::size_t at) {
  return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
         std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

struct Chunk {
  std::string type;
  Bytes data;
};

// The chunks after the signature, each checked against its CRC.
std::vector<Chunk> chunksOf(const Bytes& png) {
  std::vector<Chunk> chunks;
  for (std::size_t at = 8; at + 12 <= png.size();) {
    const std::uint32_t length = be32(png, at);
    if (at + 12 + length > png.size()) break;
    const std::uint8_t* typeAndData = png.data() + at + 4;
    EXPECT_EQ(be32(png, at + 8 + length), libdeflate_crc32(0, typeAndData, length + 4));
    chunks.push_back({std::string(typeAndData, typeAndData + 4),
                      Bytes(typeAndData + 4, typeAndData + 4 + length)});
    at += 12 + length;
  }
  return chunks;
}

// The filter type byte of each row of a PNG of the given row size.
std::vector<int> rowFilters(const Bytes& png, std::size_t rowBytes, int height) {
  Bytes stream;
  for (const Chunk& c : chunksOf(png))
    if (c.type == "IDAT") stream.insert(stream.end(), c.data.begin(), c.data.end());
  Bytes rows((rowBytes + 1) * static_cast<std::size_t>(height));
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  const auto result = libdeflate_zlib_decompress(d, stream.data(), stream.size(), rows.data(),
                                                 rows.size(), nullptr);
  libdeflate_free_decompressor(d);
  EXPECT_EQ(result, LIBDEFLATE_SUCCESS);
  std::vector<int> filters;
  for (int y = 0; y < height; ++y) filters.push_back(rows[y * (rowBytes + 1)]);
  return filters;
}

// A PNG's text chunks as libpng reads them.
std::vector<host::PngText> textsOf(const Bytes& bytes) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<host::PngText> texts;
  if (setjmp(png_jmpbuf(png))) {
    ADD_FAILURE() << "libpng cannot read the PNG";
  } else {
    host::PngMemorySource source{&bytes, 0};
    png_set_read_fn(png, &source, host::readPngFromMemory);
    png_read_info(png, info);
    png_textp text = nullptr;
    int count = 0;
    png_get_text(png, info, &text, &count);
    for (int i = 0; i < count; ++i) texts.push_back({text[i].key, text[i].text});
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return texts;
}

TEST(PngWriter, EveryWriterPictureReadsBackToItsPixelsAndPalette) {
  host::PluginSet plugins;
  TempDir dir;
  std::vector<pictures::PictureFiles> cases = pictures::samples();
  for (pictures::PictureFiles& p : pictures::writerPictures()) cases.push_back(std::move(p));
  int checked = 0;
  for (const pictures::PictureFiles& c : cases) {
    const host::PictureFormat format =
        c.isGra() ? host::PictureFormat::Gra : host::PictureFormat::Q;
    const std::string& label = c.name;
    // GRA pictures with companions are decoded by name beside them.
    std::string path;
    if (c.palette || c.fourthPlane) {
      path = dir.write("picture.gra", c.picture);
      dir.write("picture.rgb", c.palette.value_or(Bytes{}));
      dir.write("picture.e1", c.fourthPlane.value_or(Bytes{}));
    }
    host::Picture picture;
    ASSERT_TRUE(host::decode(*plugins.byFormat(format), {path, c.picture}, picture)) << label;
    host::PngImage image4;
    image4.width = picture.width();
    image4.height = picture.height();
    image4.bitDepth = 4;
    image4.colorType = host::PngColorType::Palette;
    image4.palette = picture.palette;
    image4.source = &picture;
    image4.row = [](const void* source, int y) {
      return static_cast<const host::Picture*>(source)->packedRow(y);
    };
    // 0: encodePng; the others, libdeflate's levels (its fastest and its smallest).
    for (int level : {0, 1, 12}) {
      Bytes png;
      ASSERT_TRUE(level == 0 ? host::encodePng(picture, png) : host::writePng(image4, png, level))
          << label;
      host::IndexedImage image;
      ASSERT_TRUE(host::readIndexedPng(png, image)) << label;
      EXPECT_EQ(image.width, 640);
      EXPECT_EQ(image.height, 400);
      EXPECT_EQ(image.indices, picture.indices) << label;
      EXPECT_TRUE(std::equal(image.palette.begin(), image.palette.end(), picture.palette.begin(),
                             picture.palette.end()))
          << label;
      std::vector<std::string> types;
      for (const Chunk& chunk : chunksOf(png)) types.push_back(chunk.type);
      EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"})) << label;
      EXPECT_EQ(Bytes(png.begin() + 24, png.begin() + 29), (Bytes{4, 3, 0, 0, 0}))
          << label << ": 4 bits, palette, deflate, filter method 0, not interlaced";
      // Palette rows go unfiltered, as libpng wrote them.
      EXPECT_EQ(rowFilters(png, 320, 400), std::vector<int>(400, 0)) << label;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 3 * static_cast<int>(cases.size()));
  EXPECT_GT(cases.size(), 20u);  // the samples and the writer pictures
}

// RGB images of several shapes whose rows call for every filter: flat, a ramp across (Sub),
// a ramp down (Up), a smooth surface (Average and Paeth), and noise (None).
TEST(PngWriter, RgbImagesWithTextReadBackWithEveryFilterInUse) {
  std::mt19937 random(5);
  const std::vector<host::PngText> texts{{"Thumb::Image::Width", "640"},
                                         {"Comment", "Latin-1 \xE9t\xE9, spaces  inside "},
                                         {"Empty", ""}};
  struct Shape {
    int width, height;
  };
  std::array<int, 5> filtersSeen{};
  for (Shape shape : {Shape{1, 1}, Shape{3, 5}, Shape{128, 80}, Shape{257, 31}}) {
    host::RgbImage image{shape.width, shape.height, {}};
    for (int y = 0; y < shape.height; ++y) {
      for (int x = 0; x < shape.width; ++x) {
        const int band = y * 5 / shape.height;
        const std::uint8_t noise = static_cast<std::uint8_t>(random());
        const std::uint8_t values[5][3] = {
            {40, 80, 120},
            {static_cast<std::uint8_t>(x * 3), 9, static_cast<std::uint8_t>(x)},
            {static_cast<std::uint8_t>(y * 7), 200, static_cast<std::uint8_t>(y * 2)},
            {static_cast<std::uint8_t>(x * y / 8), static_cast<std::uint8_t>(x * x / 64 + y),
             static_cast<std::uint8_t>((x + y) * (x + y) / 50)},
            {noise, static_cast<std::uint8_t>(noise * 7), static_cast<std::uint8_t>(noise ^ 0x5A)}};
        image.rgb.insert(image.rgb.end(), values[band], values[band] + 3);
      }
    }
    Bytes png;
    ASSERT_TRUE(host::encodeRgbPng(image, texts, png));
    TempDir dir;
    host::RgbaImage read;
    ASSERT_TRUE(host::readPng(dir.write("rgb.png", png), read));
    ASSERT_EQ(read.rgba.size(), image.rgb.size() / 3 * 4);
    for (std::size_t i = 0; i < image.rgb.size() / 3; ++i) {
      ASSERT_EQ(Bytes(read.rgba.begin() + 4 * i, read.rgba.begin() + 4 * i + 3),
                Bytes(image.rgb.begin() + 3 * i, image.rgb.begin() + 3 * i + 3))
          << shape.width << " x " << shape.height << ", pixel " << i;
    }
    EXPECT_TRUE(read.opaque);
    const auto readTexts = textsOf(png);
    ASSERT_EQ(readTexts.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
      EXPECT_EQ(readTexts[i].keyword, texts[i].keyword);
      EXPECT_EQ(readTexts[i].text, texts[i].text);
    }
    for (int f : rowFilters(png, static_cast<std::size_t>(shape.width) * 3, shape.height))
      ++filtersSeen.at(static_cast<std::size_t>(f));
  }
  for (std::size_t f = 0; f < filtersSeen.size(); ++f)
    EXPECT_GT(filtersSeen[f], 0) << "filter " << f << " was never chosen: the test misses it";
}

TEST(PngWriter, WhatAPngCannotHoldIsRefusedInWords) {
  const host::RgbImage pixel{1, 1, {1, 2, 3}};
  struct Case {
    host::PngText text;
    std::string error;
  };
  const Case cases[] = {
      {{"", "x"}, "the PNG text keyword \"\" is not 1 to 79 printable Latin-1 characters"},
      {{std::string(80, 'k'), "x"}, "is not 1 to 79 printable Latin-1 characters"},
      {{" Title", "x"}, "is not 1 to 79 printable Latin-1 characters"},
      {{"Two  spaces", "x"}, "is not 1 to 79 printable Latin-1 characters"},
      {{"Tab\there", "x"}, "is not 1 to 79 printable Latin-1 characters"},
      {{"Control\x85", "x"}, "is not 1 to 79 printable Latin-1 characters"},
      {{"Title", std::string("a\0b", 3)}, "the PNG text \"Title\" holds a zero byte"},
  };
  for (const Case& c : cases) {
    Bytes png{1};
    const std::string error = host::encodeRgbPng(pixel, {c.text}, png).reason;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text.keyword << ": " << error;
    EXPECT_TRUE(png.empty()) << c.text.keyword;
  }
  Bytes png;
  EXPECT_TRUE(host::encodeRgbPng(pixel, {{std::string(79, 'k'), ""}}, png));

  // The writer's own checks, beneath encodePng and encodeRgbPng.
  const RgbQuad colours[17] = {};
  host::PngImage image;
  image.width = 2;
  image.height = 1;
  image.colorType = host::PngColorType::Palette;
  image.bitDepth = 1;
  image.palette = std::span<const RgbQuad>(colours, 3);  // more than 1 bit can index
  EXPECT_FALSE(host::writePng(image, png));
  image.bitDepth = 3;
  image.palette = std::span<const RgbQuad>(colours, 2);
  EXPECT_FALSE(host::writePng(image, png));
  image.bitDepth = 8;
  image.height = 0;
  EXPECT_FALSE(host::writePng(image, png));
}

}  // namespace
