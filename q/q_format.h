// The numbers of the Q file layout, shared by the loader and the writer. The layout itself is
// described at the top of q_loader.cpp.
#pragma once

#include <cstdint>

namespace qformat {

// The header.
constexpr int kHeaderSize = 134;
constexpr int kCommentSize = 32;                // header bytes 0 to 31
constexpr std::uint8_t kFirstCommentByte = 32;  // a first byte below a space: no comment
constexpr int kColorModeOffset = 34;
constexpr std::uint8_t kEightColorMode = 0;  // any other value: 16 colours
constexpr int kFileSizeOffset = 40;          // 24 bits: 16-bit low word, then bits 16 to 23
constexpr int kSignatureOffset = 43;
constexpr int kSignatureSize = 5;
constexpr char kSignature[kSignatureSize + 1] = "MAJYO";  // compared without the terminator
constexpr int kChunkLengthsOffset = 64;                   // ten 16-bit lengths
constexpr int kEscapeRecordsOffset = 84;                  // ten 5-byte escape records
constexpr int kEscapeRecordSize = 5;
constexpr int kChunkCount = 10;

// The block handed to the host with the comment: the 32 comment bytes and zeros.
constexpr int kCommentBlockSize = 36;

// The table block after the header.
constexpr int kIndexBits = 5;
constexpr unsigned kIndexMask = (1u << kIndexBits) - 1;
constexpr int kMaxLines = 800;  // 200 line pairs of 4 planes
constexpr int kSixteenColorTableSize = 524;
constexpr int kSixteenColorIndexBytes = kMaxLines * kIndexBits / 8;  // 500
constexpr int kPaletteOffset = kSixteenColorIndexBytes;              // in the table block
constexpr int kPaletteBytes = 24;  // 16 entries of red, green, blue nibbles
constexpr int kEightColorTableSize = 400;
constexpr int kIndexWords = 200;  // big-endian words of three indices, bit 15 unused
constexpr int kIndicesPerWord = 3;
constexpr int kSixteenColorPlanes = 4;
constexpr int kEightColorPlanes = 3;
constexpr int kNibbleScale = 17;  // a 4-bit component v is the 8-bit component 17 v

// Lines and the history of earlier lines.
constexpr int kLineBytes = 160;  // one plane of one line pair
constexpr int kHistorySlots = 32;
constexpr int kProgressLinePairs = 16;  // progress is reported every 16 line pairs (32 lines)

// Chunk tokens. With literal mode on, this operand turns a run code into the code byte itself.
constexpr std::uint8_t kLiteralOperand = 255;
// The chunk buffer holds this many bytes more than the largest chunk, set to 0 after each
// chunk: a token cut short by the chunk's end reads zero operands, and the decoder copies
// plain bytes in 16-byte blocks, which may read up to 15 bytes past the chunk.
constexpr int kChunkPadding = 16;

// The five code bytes of one chunk.
struct EscapeRecord {
  std::uint8_t literalMode;    // non-zero: code bytes can be written as literals
  std::uint8_t zeroRunCode;    // count n: n bytes 0x00
  std::uint8_t ffRunCode;      // count n: n bytes 0xFF
  std::uint8_t fillRunCode;    // value v, count n: n bytes v
  std::uint8_t endOfLineCode;  // 0x00 up to the end of the line (literal mode off only)
};

}  // namespace qformat
