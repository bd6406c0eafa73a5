// SPDX-License-Identifier: MIT
// The PNG writer behind encodePng and encodeRgbPng: the container (signature, IHDR, PLTE, tEXt,
// one IDAT, IEND, each chunk with its CRC) written here, the image data filtered here and
// compressed whole with libdeflate, faster than zlib at about the same sizes (see kPngLevel).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "host/image_files.h"

namespace host {

// PNG colour types (the IHDR field).
enum class PngColorType : std::uint8_t { Rgb = 2, Palette = 3 };

// A picture to write as a PNG, not interlaced.
struct PngImage {
  int width = 0;
  int height = 0;
  int bitDepth = 8;  // 1, 2, 4 or 8 for a palette, 8 for RGB
  PngColorType colorType = PngColorType::Rgb;
  std::span<const RgbQuad> palette;  // a palette PNG's colours (the reserved bytes unused)
  std::span<const PngText> texts;    // written as tEXt chunks, before the image data
  // Row y (0 = top): the samples packed as the colour type and bit depth lay them out.
  const void* source = nullptr;
  const std::uint8_t* (*row)(const void* source, int y) = nullptr;
};

// The libdeflate level (1 to 12) encodePng and encodeRgbPng compress at. Against zlib's level 6
// (libpng's, which planeconv wrote with before) on the benchmark's pictures (convert_split
// prints the table), level 7 writes busy and noisy pictures 1.8 to 4.5 times as fast and up to
// 1 % smaller, flat ones 1.1 to 1.6 times as fast and between 10 % smaller and 5.5 % larger.
// Level 6 is faster again but up to 19 % larger on flat pictures; level 8 is smaller than zlib
// on all of them but slower than zlib on flat ones.
constexpr int kPngLevel = 7;

// Writes image as a PNG into out, compressed at the given libdeflate level (0 to 12). Rows of
// palette pictures and of pictures of fewer than 8 bits a sample go unfiltered, as libpng leaves
// them (filtering such rows makes them larger); the others get, row by row, the filter whose
// output has the smallest sum of absolute (signed) bytes, as libpng chooses. The rows must stay
// put for the whole call. Answers Ok, or BadData and why the image cannot be written.
Result writePng(const PngImage& image, std::vector<std::uint8_t>& out, int level = kPngLevel);

}  // namespace host
