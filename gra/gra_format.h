// SPDX-License-Identifier: MIT
// The GRA file layout, shared by the reader (GraLoader) and the writer. The format itself is
// described at the top of gra_loader.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "framework/format_description.h"
#include "framework/picture_geometry.h"

// The first 16-byte header block of a GRA file, byte for byte.
struct GraHeader {
  std::uint8_t reserved0;
  std::uint8_t headerBlocks;  // 16-byte blocks in the header; 0 and 1 both mean one
  std::uint8_t windowLeft;    // in 8-pixel columns
  std::uint8_t windowRight;   // exclusive
  std::uint8_t windowTop;     // in line pairs
  std::uint8_t windowBottom;  // exclusive
  std::uint8_t reserved6;
  std::uint8_t skipCode;
  std::uint8_t invertCode;
  std::uint8_t xorRunCode;
  std::uint8_t modeFlags;  // low 4 bits: the layout mode
  std::uint8_t reserved11;
  std::uint8_t reserved12;
  std::uint8_t signature[3];
};
static_assert(sizeof(GraHeader) == 16, "the header block is 16 packed bytes");

constexpr int kGraHeaderBlockSize = 16;
// The signature in bytes 13 to 15 of the first header block (no terminator).
inline constexpr char kGraSignature[3] = {'W', 'E', 'D'};
inline constexpr char kGraExtension[] = "gra";

// modeFlags: the low 4 bits hold the layout; kGraWindowLayout puts the window fields in force.
constexpr std::uint8_t kGraLayoutMask = 0x0F;
constexpr std::uint8_t kGraWindowLayout = 2;

// The flag byte in front of each line pair. 0 repeats the previous pair; any other value is
// followed by three chunks and says where planes 1 and 2 start from.
constexpr std::uint8_t kGraRepeatPair = 0x00;
constexpr std::uint8_t kGraPlane1SourceMask = 0x0C;
constexpr std::uint8_t kGraPlane1FromOwn = 0x04;  // any other value: from the new plane 0
constexpr std::uint8_t kGraPlane2SourceMask = 0x30;
constexpr std::uint8_t kGraPlane2FromOwn = 0x10;
constexpr std::uint8_t kGraPlane2FromPlane0 = 0x20;  // 0x00 and 0x30: from the new plane 1

constexpr int kGraCodedPlanes = 3;       // planes 0 to 2 in the file; plane 3 in the "e1" file
constexpr int kGraMaxChunkLength = 255;  // the length byte counts the starting offset too
constexpr int kGraColumnPixels = 8;      // window edges are in columns of 8 pixels
constexpr int kGraColumns = kPictureWidth / kGraColumnPixels;  // 80
constexpr int kGraPlaneBytesPerColumn = kGraColumnPixels / 4;  // 2 plane bytes per column

// Progress is reported after every kGraProgressPairs line pairs.
constexpr int kGraProgressPairs = 16;

// The palette file: 16 entries of red, green, blue bytes.
inline constexpr char kGraPaletteExtension[] = "rgb";
constexpr int kGraPaletteFileSize = 3 * kPaletteEntries;  // 48

// The fourth-plane file: 400 rows of 80 bytes, bit 7 the leftmost of 8 pixels.
inline constexpr char kGraFourthPlaneExtension[] = "e1";
constexpr int kGraFourthPlaneRowBytes = (kPictureWidth + 7) / 8;               // 80
constexpr int kGraFourthPlaneSize = kGraFourthPlaneRowBytes * kPictureHeight;  // 32000
constexpr int kGraFourthPlaneBit = 3;  // the bit of the pixel value it supplies

// The part of the picture that the coded data covers: columns left to right - 1 of 8 pixels,
// line pairs top to bottom - 1. Either may be empty.
struct GraWindow {
  int left;
  int right;
  int top;
  int bottom;
};

// The window a header puts in force: the whole picture unless the layout mode is the window
// layout; then fields out of range fall back to the picture's edges.
inline GraWindow graWindowOf(const GraHeader& header) {
  GraWindow window{0, kGraColumns, 0, kLinePairs};
  if ((header.modeFlags & kGraLayoutMask) != kGraWindowLayout) return window;
  window.left = header.windowLeft < kGraColumns ? header.windowLeft : kGraColumns - 1;
  if (header.windowRight >= 1 && header.windowRight <= kGraColumns) {
    window.right = header.windowRight;
  }
  window.top = header.windowTop < kLinePairs ? header.windowTop : kLinePairs - 1;
  if (header.windowBottom >= 1 && header.windowBottom <= kLinePairs) {
    window.bottom = header.windowBottom;
  }
  return window;
}

// A palette file byte v as an 8-bit colour component: the low nibble fills both nibbles' room,
// so 0 to 15 become 0x00, 0x11, ..., 0xFF.
constexpr std::uint8_t graComponent(std::uint8_t v) {
  return static_cast<std::uint8_t>(((v * 16) & 0xFF) | v);
}

// Recognition: the signature in bytes 13 to 15 of the first header block.
inline bool graHasSignature(const GraHeader& header) {
  return std::memcmp(header.signature, kGraSignature, sizeof kGraSignature) == 0;
}

// The bytes of the whole header: its number of 16-byte blocks, where 0 and 1 both mean one.
inline int graHeaderBytes(const GraHeader& header) {
  return header.headerBlocks > 1 ? header.headerBlocks * kGraHeaderBlockSize : kGraHeaderBlockSize;
}

// The largest GRA file the decoder reads: the longest header (byte 1 at 255: 255 blocks of 16
// bytes), then for each of the 200 line pairs a flag byte and three chunks of a length byte and
// up to 255 bytes. Nothing after the last line pair is read, so bytes past this size never
// count and a host need not read them.
constexpr int kGraMaxHeaderBlocks = 255;
constexpr std::size_t kGraLargestFile =
    kGraMaxHeaderBlocks * kGraHeaderBlockSize +
    kLinePairs * (1 + kGraCodedPlanes * (1 + kGraMaxChunkLength));  // 157880
static_assert(kGraLargestFile == 157880);

// Why a file whose first `size` bytes are `bytes` is not a GRA picture the plug-in takes, in
// words that say what the bytes showed; empty when its header passes. (Hosts word their
// messages with this; the plug-in itself only answers result codes.)
inline std::string graHeaderProblem(const std::uint8_t* bytes, std::size_t size) {
  if (size < sizeof(GraHeader)) {
    return "only " + std::to_string(size) + " bytes, the header alone is " +
           std::to_string(kGraHeaderBlockSize);
  }
  GraHeader header;
  std::memcpy(&header, bytes, sizeof header);
  if (!graHasSignature(header)) {
    return "no \"" + std::string(kGraSignature, sizeof kGraSignature) + "\" signature at byte " +
           std::to_string(offsetof(GraHeader, signature));
  }
  if (size < static_cast<std::size_t>(graHeaderBytes(header))) {
    return "the header says " + std::to_string(header.headerBlocks) + " blocks of " +
           std::to_string(kGraHeaderBlockSize) + " bytes, the file ends after " +
           std::to_string(size);
  }
  return "";
}

// The format as a host sees it (framework/format_description.h).
inline constexpr std::string_view kGraExtensions[] = {kGraExtension};
inline constexpr CompanionFile kGraCompanions[] = {
    {kGraPaletteExtension, kGraPaletteFileSize, CompanionRole::Palette},
    {kGraFourthPlaneExtension, kGraFourthPlaneSize, CompanionRole::FourthPlane},
};
inline constexpr FormatDescription kGraFormat{
    .name = "gra",
    .title = "GRA picture",
    .extensions = kGraExtensions,
    .mimeType = "image/x-gra",
    // 80, the level from which contents decide before names: *.gra is also another program's
    // type, and the tools that look at globs first (xdg-mime outside GNOME and KDE) would
    // otherwise name a GRA picture after that type; GIO, which looks at the contents when two
    // globs match, agrees. A GRA header also begins with the bytes 00 01 00 00 00 of a
    // TrueType font's magic.
    .signature = {offsetof(GraHeader, signature), {kGraSignature, sizeof kGraSignature}, 80},
    .largestFile = kGraLargestFile,
    .headerProblem = graHeaderProblem,
    .companions = kGraCompanions,
};
