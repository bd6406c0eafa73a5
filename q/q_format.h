// SPDX-License-Identifier: MIT
// The numbers of the Q file layout, shared by the loader and the writer. The layout itself is
// described at the top of q_loader.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "framework/format_description.h"
#include "framework/little_endian.h"

namespace qformat {

// The header.
constexpr int kHeaderSize = 134;
// The comment is text in code page 932, the Japanese Windows one (the host library's
// host/code_page_932.h reads and writes it); the plug-in hands its bytes over as they stand.
constexpr int kCommentSize = 32;                // header bytes 0 to 31
constexpr std::uint8_t kFirstCommentByte = 32;  // a first byte below a space: no comment
constexpr int kColorModeOffset = 34;
constexpr std::uint8_t kEightColorMode = 0;  // any other value: 16 colours
constexpr int kFileSizeOffset = 40;          // 24 bits: 16-bit low word, then bits 16 to 23
constexpr int kSignatureOffset = 43;
constexpr int kSignatureSize = 5;
inline constexpr char kSignature[kSignatureSize + 1] = "MAJYO";  // compared without the terminator
constexpr int kChunkLengthsOffset = 64;                          // ten 16-bit lengths
constexpr int kEscapeRecordsOffset = 84;                         // ten 5-byte escape records
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

// The largest Q file the decoder reads: the header, the 16-colour table block and ten chunks of
// the largest length a 16-bit length field states. The loader reads no byte past the chunks the
// header lists, so bytes past this size never count and a host need not read them.
constexpr int kLargestChunkLength = 0xFFFF;
constexpr std::size_t kLargestFile = static_cast<std::size_t>(kHeaderSize) +
                                     kSixteenColorTableSize + kChunkCount * kLargestChunkLength;
static_assert(kLargestFile == 656008);

// Lines and the history of earlier lines.
constexpr int kLineBytes = 160;  // one plane of one line pair
constexpr int kHistorySlots = 32;
constexpr int kProgressLinePairs = 16;  // progress is reported every 16 line pairs (32 lines)

// Chunk tokens. With literal mode on, this operand turns a run code into the code byte itself.
constexpr std::uint8_t kLiteralOperand = 255;

// The five code bytes of one chunk.
struct EscapeRecord {
  std::uint8_t literalMode;    // non-zero: code bytes can be written as literals
  std::uint8_t zeroRunCode;    // count n: n bytes 0x00
  std::uint8_t ffRunCode;      // count n: n bytes 0xFF
  std::uint8_t fillRunCode;    // value v, count n: n bytes v
  std::uint8_t endOfLineCode;  // 0x00 up to the end of the line (literal mode off only)
};

// Fields of a header's kHeaderSize bytes, as the loader and hosts read them.
inline bool isEightColor(const std::uint8_t* header) {
  return header[kColorModeOffset] == kEightColorMode;
}
inline int tableSizeOf(const std::uint8_t* header) {
  return isEightColor(header) ? kEightColorTableSize : kSixteenColorTableSize;
}
inline std::uint16_t chunkLengthOf(const std::uint8_t* header, int chunk) {
  return readLe16(header + kChunkLengthsOffset + 2 * chunk);
}
// The file size the header states.
inline std::int32_t declaredFileSizeOf(const std::uint8_t* header) {
  return static_cast<std::int32_t>(readLe24(header + kFileSizeOffset));
}
// The file size the header implies: header, table block and the ten chunks.
inline std::int32_t impliedFileSizeOf(const std::uint8_t* header) {
  std::int32_t size = kHeaderSize + tableSizeOf(header);
  for (int k = 0; k < kChunkCount; ++k) size += chunkLengthOf(header, k);
  return size;
}
inline bool hasSignature(const std::uint8_t* header) {
  return std::memcmp(header + kSignatureOffset, kSignature, kSignatureSize) == 0;
}

// Why a file whose first `size` bytes are `bytes` is not a Q picture the plug-in takes, in
// words that say what the bytes showed; empty when its header passes recognition (the
// signature, then the stated size against the implied one). Hosts word their messages with
// this; the plug-in itself only answers result codes.
inline std::string headerProblem(const std::uint8_t* bytes, std::size_t size) {
  if (size >= static_cast<std::size_t>(kSignatureOffset + kSignatureSize) && !hasSignature(bytes))
    return "no \"" + std::string(kSignature) + "\" signature at byte " +
           std::to_string(kSignatureOffset);
  if (size < static_cast<std::size_t>(kHeaderSize))
    return "only " + std::to_string(size) + " bytes, the header alone is " +
           std::to_string(kHeaderSize);
  const std::size_t tableEnd = static_cast<std::size_t>(kHeaderSize + tableSizeOf(bytes));
  if (size < tableEnd)
    return "the file ends after " + std::to_string(size) + " bytes, inside the table block (" +
           std::to_string(tableEnd) + " bytes with the header)";
  if (declaredFileSizeOf(bytes) != impliedFileSizeOf(bytes))
    return "the size field says " + std::to_string(declaredFileSizeOf(bytes)) +
           " bytes, header and chunks make " + std::to_string(impliedFileSizeOf(bytes));
  return "";
}

// Why a whole file of `size` bytes, whose header passes recognition, cannot be decoded: its
// chunks end early. Empty when the file is long enough.
inline std::string dataProblem(const std::uint8_t* header, std::size_t size) {
  const std::size_t implied = static_cast<std::size_t>(impliedFileSizeOf(header));
  if (size >= implied) return "";
  return "the file ends after " + std::to_string(size) + " bytes, its header and chunks make " +
         std::to_string(implied);
}

// The format as a host sees it (framework/format_description.h).
inline constexpr std::string_view kExtensions[] = {"q"};
inline constexpr FormatDescription kFormat{
    .name = "q",
    .title = "Q picture",
    .extensions = kExtensions,
    .mimeType = "image/x-q-picture",
    // 80: the contents decide before the name. A Q header begins with 32 bytes of comment text
    // that may look like anything.
    .signature = {kSignatureOffset, {kSignature, kSignatureSize}, 80},
    .largestFile = kLargestFile,
    .headerProblem = headerProblem,
    .companions = {},
};

}  // namespace qformat
