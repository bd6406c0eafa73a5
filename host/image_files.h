// Picture files besides the plug-ins' formats, for hosts that write or read them: PNG (through
// libpng) and BMP.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "host/picture.h"

namespace host {

// A picture as a 4-bit palette PNG: 16 palette entries, the pixel indices as the DIB holds them.
// Answers an error message, empty on success.
std::string encodePng(const Picture& picture, std::vector<std::uint8_t>& out);

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

// An RGB image as an 8-bit RGB PNG, not interlaced, with the given text chunks. Answers an
// error message, empty on success.
std::string encodeRgbPng(const RgbImage& image, const std::vector<PngText>& texts,
                         std::vector<std::uint8_t>& out);

// A BMP file: the file header, then the DIB as the plug-in handed it over.
std::vector<std::uint8_t> encodeBmp(const Picture& picture);

// Any PNG, read as 8-bit RGBA pixels, top row first.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
};
std::string readPng(const std::string& path, RgbaImage& image);

// A 4-bit palette PNG read back as indices and palette (for tests and round trips).
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> indices;  // one byte per pixel, top row first
  std::vector<RgbQuad> palette;
};
std::string readIndexedPng(const std::vector<std::uint8_t>& png, IndexedImage& image);

// libpng's reader of a PNG held in memory: png_set_read_fn(png, &source, readPngFromMemory).
// Reading past the end is a libpng error.
struct PngMemorySource {
  const std::vector<std::uint8_t>* bytes;
  std::size_t position;
};
void readPngFromMemory(png_structp png, png_bytep data, png_size_t length);

}  // namespace host
