// SPDX-License-Identifier: MIT
// The Q writer: makes a Q file from a picture of colour indices.
//
// A picture of 640 x 400 indices becomes 200 line pairs of 4 (16 colours) or 3 (8 colours) bit
// planes, one 160-byte line per plane. Each line is XORed with one of the 32 most recent lines
// in the reader's history (chosen per line, see QWriteOptions::Reference), spread over the
// ten chunks, and each chunk is run-coded with its own escape record. The file is complete:
// header with comment, signature and exact file size, table block (reference indices and, with
// 16 colours, the palette) and chunks.
//
//   QPicture picture;                       // indices and palette
//   QFiles files = writeQ(picture);         // throws WriteError when it cannot
//   save(name + ".q", files.picture);
//
// writeQ throws WriteError for a picture or options it cannot write (an index beyond the
// colour count, a palette component above 15, a bad comment, lines per chunk that do not add
// up, escape codes that cannot express a byte) and when a chunk would exceed 65535 bytes (only
// possible with uneven lines per chunk).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/picture_geometry.h"
#include "framework/writer_types.h"
#include "q/q_format.h"

struct QPicture {
  // Colour indices, row-major, top row first: pixels[y * 640 + x]. 0 to 15, or 0 to 7 for an
  // 8-colour picture.
  std::array<std::uint8_t, kPictureWidth * kPictureHeight> pixels{};
  // The colours of a 16-colour picture. An 8-colour file carries no palette: the reader's
  // default colours apply, and this is not written.
  std::array<Color4, kPaletteEntries> palette{};
  bool eightColors = false;
  // Up to 32 bytes, stored as they stand (zero-padded); empty for none. The reader counts the
  // header bytes as a comment only when the first is 32 (a space) or more, so a non-empty
  // comment must start so.
  std::string comment;
};

struct QWriteOptions {
  // Which history slot each line is XORed with.
  enum class Reference {
    FewestNonZero,  // the slot whose line XORs to the fewest non-zero bytes
    OwnSlot,        // the line's own slot: the line 32 before it, or zeros
    Scattered,      // a slot that changes from line to line, to reach every slot
  };
  Reference reference = Reference::FewestNonZero;

  // Literal mode of each chunk (unless its codes are fixed below).
  enum class LiteralMode {
    Smaller,  // per chunk, whichever codes the chunk in fewer bytes
    Off,
    On,
    Alternate,  // off in even chunks, on in odd ones
  };
  LiteralMode literalMode = LiteralMode::Smaller;

  // How the four code bytes of a chunk are picked from its data (unless fixed below).
  enum class Codes {
    LeastUsed,  // the four least frequent byte values other than 0x00 and 0xFF
    MostUsed,   // the four most frequent ones: many code bytes then need escaping
  };
  Codes codes = Codes::LeastUsed;
  // A chunk's whole escape record, literal mode included, when set. Codes may be equal.
  std::array<std::optional<qformat::EscapeRecord>, qformat::kChunkCount> fixedCodes{};

  // Lines per chunk, which must add up to the picture's 800 (or 600) lines; zeros make empty
  // chunks. Unset: the lines are spread evenly over the ten chunks.
  std::optional<std::array<int, qformat::kChunkCount>> linesPerChunk;

  // A run that reaches the line's end is written with the largest count, so that the reader
  // drops the rest; trailing zeros then become such a zero run instead of an end-of-line code.
  bool overrunLineEnds = false;
  // Every chunk ends with an unfinished line, which the reader drops.
  bool partialLineAtChunkEnds = false;
  // This many further lines after the picture's last line, in the last chunk; the reader
  // drops them.
  int extraLines = 0;
};

// How many tokens of each kind a chunk was written with.
struct QTokenCounts {
  int literal = 0;      // a plain byte
  int zeroRun = 0;      // zeroRunCode n (also a single 0x00 that is a code byte)
  int ffRun = 0;        // ffRunCode n
  int fillRun = 0;      // fillRunCode v n (also a single code byte with literal mode off)
  int endOfLine = 0;    // endOfLineCode
  int escapedCode = 0;  // a code byte written as itself: code, 255 (literal mode on)
};

struct QWriteReport {
  std::array<QTokenCounts, 2> tokens{};  // [0]: chunks with literal mode off, [1]: on
  std::array<int, qformat::kChunkCount> linesInChunk{};
  std::array<qformat::EscapeRecord, qformat::kChunkCount> codes{};
  std::vector<std::uint8_t> referenceIndex;  // one per picture line
};

struct QFiles {
  std::vector<std::uint8_t> picture;  // the Q file
  QWriteReport report;                // what the writer chose
};

QFiles writeQ(const QPicture& picture, const QWriteOptions& options = {});
