// SPDX-License-Identifier: MIT
// The GRA writer: stores a 640 x 400 picture of 16 colours as a GRA file, with its "rgb"
// palette file and its "e1" fourth-plane file.
//
//   GraPicture picture;                      // pixel indices 0 to 15, colours 0 to 15 each
//   ...
//   GraFiles files = writeGra(picture);      // throws WriteError when it cannot
//   save(name + ".gra", files.picture);
//   save(name + ".rgb", files.palette);      // empty when not asked for
//   save(name + ".e1", files.fourthPlane);   // empty when not asked for
//
// The GRA file holds bit planes 0 to 2 of every pixel (pixel value bits 0 to 2); the "e1" file
// holds plane 3 (bit 3) and the "rgb" file the colours. A reader without the "e1" file shows
// pixel values 0 to 7 only; without the "rgb" file it shows kGraDefaultColors.
//
// By default the writer picks, for each line pair, the shortest coding: a repeat of the
// previous pair when nothing changed, else for planes 1 and 2 the cheapest starting point (own
// previous contents or a copy of a new lower plane), and within each plane the shortest mix of
// skips, invert runs, XOR runs and plain XOR bytes. It also picks escape bytes that the
// picture's changes rarely use. GraWriteOptions can force each of these choices, so that
// files exercising every path of a reader can be made on purpose.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "framework/writer_types.h"
#include "gra/gra_format.h"

// The colours of the palette file.
using GraColors = std::array<Color4, kPaletteEntries>;

// The colours a reader shows when there is no "rgb" file.
extern const GraColors kGraDefaultColors;

struct GraPicture {
  // Pixel values 0 to 15, row-major, top row first.
  std::array<std::uint8_t, kPictureWidth * kPictureHeight> pixels{};
  GraColors colors = kGraDefaultColors;

  std::uint8_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * kPictureWidth + x]; }
  std::uint8_t at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * kPictureWidth + x];
  }
};

// The three escape bytes of the header. Equal values are allowed: the byte then acts as the
// first of skip, invert run, XOR run that it equals, and the later codes are not used.
struct GraEscapes {
  std::uint8_t skipCode;
  std::uint8_t invertCode;
  std::uint8_t xorRunCode;
};

// Where a plane of a coded line pair starts from before its changes are applied.
enum class GraPlaneSource {
  Cheapest,  // whichever gives the shortest chunk
  Own,       // the plane's own contents of the previous pair
  Plane0,    // a copy of the pair's new plane 0
  Plane1,    // a copy of the pair's new plane 1 (plane 2 only)
};

struct GraWriteOptions {
  bool writePalette = true;      // fill GraFiles::palette
  bool writeFourthPlane = true;  // fill GraFiles::fourthPlane

  // Escape bytes; chosen from the picture when not given.
  std::optional<GraEscapes> escapes;

  // Window layout: only the given window is coded (left and right in 8-pixel columns, top and
  // bottom in line pairs, right and bottom exclusive; each 0 to 255 and stored as given). A
  // reader applies its own bounds to them (see graWindowOf). Planes 0 to 2 of pixels outside
  // the window are not stored; the "e1" file is written whole, and a reader takes from it the
  // rows of the window's line pairs.
  std::optional<GraWindow> window;

  // 0 to 255 header blocks of 16 bytes; blocks after the first are filled with a pattern that
  // a reader skips.
  int headerBlocks = 1;

  // Whether an unchanged line pair may be written as a repeat (a single 0 byte). When not,
  // it is written as three empty chunks.
  bool repeatPairs = true;
  GraPlaneSource plane1 = GraPlaneSource::Cheapest;  // Cheapest, Own or Plane0
  GraPlaneSource plane2 = GraPlaneSource::Cheapest;

  // Which run codes may be used; plain XOR bytes are always available.
  bool skipCodes = true;
  bool invertRuns = true;
  bool xorRuns = true;

  // Spreads the equivalent spellings of each flag byte (the unused bits, the three values
  // that copy plane 0 to plane 1, the two that copy plane 1 to plane 2) over the pairs.
  bool varyFlagBits = false;
};

// What the writer put in the file, for tests and reports.
struct GraWriteReport {
  GraEscapes escapes{};  // the escape bytes used
  int repeatPairs = 0;
  int codedPairs = 0;
  int plane1Own = 0;
  int plane1FromPlane0 = 0;
  int plane2Own = 0;
  int plane2FromPlane0 = 0;
  int plane2FromPlane1 = 0;
  int skips = 0;           // skip codes
  int invertRuns = 0;      // invert-run codes
  int xorRuns = 0;         // XOR-run codes
  int plainBytes = 0;      // plain XOR bytes
  int doubledEscapes = 0;  // an escape byte written twice to XOR a byte with its own value
};

struct GraFiles {
  std::vector<std::uint8_t> picture;      // the GRA file
  std::vector<std::uint8_t> palette;      // the "rgb" file, 48 bytes, when asked for
  std::vector<std::uint8_t> fourthPlane;  // the "e1" file, 32000 bytes, when asked for
  GraWriteReport report;
};

// Throws WriteError when the options are invalid or the picture cannot be stored with them: a
// pixel value or colour component above 15, or a line pair whose changes do not fit in a chunk.
GraFiles writeGra(const GraPicture& picture, const GraWriteOptions& options = {});
