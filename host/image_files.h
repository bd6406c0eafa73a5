// SPDX-License-Identifier: MIT
// Picture files besides the plug-ins' formats, for hosts that write or read them: PNG (written
// here with libdeflate, read through libpng) and BMP.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "host/picture.h"
#include "host/result.h"

namespace host {

// A picture as a 4-bit palette PNG: 16 palette entries, the pixel indices as the DIB holds them.
// Failures: NoMemory when the encoder cannot start, BadData when it fails.
Result encodePng(const Picture& picture, std::vector<std::uint8_t>& out);

// An 8-bit RGB image: 3 bytes (red, green, blue) a pixel, rows top first, no padding; e.g. a
// picture's rgb() or a smaller copy of it.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
};

// A PNG text chunk: a keyword of 1 to 79 Latin-1 characters and its text.
struct PngText {
  std::string keyword;
  std::string text;
};

// An RGB image as an 8-bit RGB PNG, not interlaced, with the given text chunks.
Result encodeRgbPng(const RgbImage& image, const std::vector<PngText>& texts,
                    std::vector<std::uint8_t>& out);

// A BMP file: the file header, then the DIB as the plug-in handed it over.
std::vector<std::uint8_t> encodeBmp(const Picture& picture);

// Any PNG, read as 8-bit RGBA pixels, top row first, with the values the file stores: no gamma
// or colour-profile conversion (gAMA, sRGB and iCCP chunks are passed over), 16-bit samples
// by their high byte, grey samples of 1, 2 and 4 bits scaled to 8 (1 bit: 0 and 255), grey
// repeated in red, green and blue, transparency from tRNS or the alpha channel.
struct RgbaImage {
  int width = 0;  // also set when the picture is refused for its size
  int height = 0;
  std::vector<std::uint8_t> rgba;
  // A palette PNG's palette, in its order, and each pixel's index into it; empty otherwise.
  std::vector<RgbQuad> palette;
  std::vector<std::uint8_t> indices;
  bool opaque = true;  // every pixel's alpha is 255
};
// Reads the PNG at path; one of more than maxPixels pixels is refused before its pixels are
// read. Failures: OpenFailed when the file cannot be opened, NoMemory when the decoder cannot
// start, BadData for anything the file's bytes refuse.
Result readPng(const std::string& path, RgbaImage& image,
               std::size_t maxPixels = std::size_t(1) << 28);

// A 4-bit palette PNG read back as indices and palette (for tests and round trips).
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> indices;  // one byte per pixel, top row first
  std::vector<RgbQuad> palette;
};
Result readIndexedPng(const std::vector<std::uint8_t>& png, IndexedImage& image);

// libpng's reader of a PNG held in memory: png_set_read_fn(png, &source, readPngFromMemory).
// Reading past the end is a libpng error.
struct PngMemorySource {
  const std::vector<std::uint8_t>* bytes;
  std::size_t position;
};
void readPngFromMemory(png_structp png, png_bytep data, png_size_t length);

}  // namespace host
