// SPDX-License-Identifier: MIT
// The picture geometry both formats share, and the DIB they are handed over as.
#pragma once

#include <array>
#include <cstdint>

#include "framework/wide_paths.h"

// Every picture of both formats is 640 x 400 pixels, handed over as 4-bit rows.
constexpr int kPictureWidth = 640;
constexpr int kPictureHeight = 400;
constexpr int kRowBytes = kPictureWidth / 2;                 // 4-bit pixels
constexpr int kPixelBlockSize = kRowBytes * kPictureHeight;  // 128000
constexpr int kLinePairs = kPictureHeight / 2;               // 200
constexpr int kPlaneLineBytes = kPictureWidth / 4;           // 160 plane bytes cover a line pair
constexpr int kDensity = 3780;                               // pixels per metre, about 96 dpi
constexpr int kColorDepth = 4;

// The information block: a 40-byte BITMAPINFOHEADER and a colour table of 16 RGBQUADs. Every
// block holds 16 entries, whatever the picture's colour count: a reader that takes the header
// at its word (4 bits per pixel, no colour count given) reads 16 entries and finds them there.
constexpr int kInfoHeaderSize = 40;
constexpr int kPaletteEntries = 16;
constexpr int kInfoBlockSize = kInfoHeaderSize + 4 * kPaletteEntries;  // 104

// One colour-table entry, in RGBQUAD order.
struct RgbQuad {
  std::uint8_t blue;
  std::uint8_t green;
  std::uint8_t red;
  std::uint8_t reserved;
  friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};
static_assert(sizeof(RgbQuad) == 4);

using Palette = std::array<RgbQuad, kPaletteEntries>;

constexpr RgbQuad rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return RgbQuad{blue, green, red, 0};
}

// The colours a loader starts from, before a picture's own colours replace them.
inline constexpr Palette DefaultPalette = {
    rgb(0, 0, 0),       rgb(0, 0, 255),   rgb(255, 0, 0),     rgb(255, 170, 255),
    rgb(0, 255, 0),     rgb(0, 255, 255), rgb(255, 255, 170), rgb(255, 255, 255),
    rgb(255, 170, 170), rgb(0, 0, 170),   rgb(170, 0, 0),     rgb(170, 0, 170),
    rgb(0, 170, 0),     rgb(0, 170, 170), rgb(170, 170, 0),   rgb(170, 170, 170),
};

// Plane bytes. Both formats store a picture as bit planes of line pairs: one plane byte covers
// 4 pixels across and 2 lines down at one plane. Bits 7 to 4 are the 4 pixels of the upper
// line, left to right; bits 3 to 0 the same 4 pixels of the lower line. Plane n supplies bit n
// of the 4-bit pixel value.
//
// mergePlaneBytes ORs count plane bytes of one line pair into the pixel block: plane byte i
// covers the 2 bytes at rowPair + 2i (lower line) and rowPair + kRowBytes + 2i (upper line).
// The block is bottom-up, so the upper line of a pair is the row after the lower one. A count
// of 0 or less writes nothing; the caller keeps rowPair + kRowBytes + 2 x count in the block.
void mergePlaneBytes(int plane, int count, const std::uint8_t* planeBytes, std::uint8_t* rowPair);

// packPlaneLine is its inverse for the writers, whose pictures hold one pixel value per byte,
// top row first: it takes 4 x count pixel values of one line pair (upperLine points at the
// first of them on the upper line; the lower line's follow kPictureWidth values further on)
// and writes count plane bytes of plane in the layout above, each bit from bit plane of its
// pixel's value. It is defined here because the writers are built without the framework's
// sources.
inline void packPlaneLine(int plane, int count, const std::uint8_t* upperLine,
                          std::uint8_t* planeBytes) {
  const std::uint8_t* lowerLine = upperLine + kPictureWidth;
  for (int i = 0; i < count; ++i) {
    unsigned byte = 0;
    for (int x = 0; x < 4; ++x) {
      byte |= ((upperLine[4 * i + x] >> plane) & 1u) << (7 - x);
      byte |= ((lowerLine[4 * i + x] >> plane) & 1u) << (3 - x);
    }
    planeBytes[i] = static_cast<std::uint8_t>(byte);
  }
}

// mergeLinePair ORs up to four planes of one line pair into the pixel block in one pass over
// the two rows: the same bytes as mergePlaneBytes(p, count, planeLines[p], rowPair) for every
// plane p whose planeLines[p] is not null, in a fraction of the time, on the path widePath()
// chooses. count is at most kPlaneLineBytes. The decoders use it.
constexpr int kMaxPlanes = 4;
void mergeLinePair(const std::uint8_t* const (&planeLines)[kMaxPlanes], int count,
                   std::uint8_t* rowPair);

// mergeLinePair on the given path instead of widePath(), which the processor must run: the
// tests hold every path against mergePlaneBytes.
void mergeLinePairOn(WidePath path, const std::uint8_t* const (&planeLines)[kMaxPlanes], int count,
                     std::uint8_t* rowPair);

// writeLinePair writes a whole line pair (kPlaneLineBytes plane bytes of each plane) the same
// way, but stores its two rows rather than ORing into them: what they held before does not
// count, so a decoder that writes every pair need not zero the block first. An absent plane
// gives zero bits.
void writeLinePair(const std::uint8_t* const (&planeLines)[kMaxPlanes], std::uint8_t* rowPair);
void writeLinePairOn(WidePath path, const std::uint8_t* const (&planeLines)[kMaxPlanes],
                     std::uint8_t* rowPair);

// The address of line pair k's lower row in a bottom-up pixel block of kPictureHeight rows.
inline std::uint8_t* linePairRow(std::uint8_t* pixels, int pair) {
  return pixels + (kPictureHeight - 2 - 2 * pair) * kRowBytes;
}
