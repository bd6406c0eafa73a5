// SPDX-License-Identifier: MIT
// The Q picture loader.
//
// A Q file holds one 640 x 400 picture of 16 colours (4 bit planes) or 8 colours (3 planes).
// Numbers are little-endian unless told otherwise.
//
//   offset 0     header, 134 bytes:
//                  0  32 bytes  comment; present when byte 0 is 32 or more, then all 32 bytes
//                               are the comment as they stand (no terminator is stored)
//                 34   1 byte   colour mode: 0 is 8 colours, anything else 16 colours
//                 40   3 bytes  file size: a 16-bit low word, then bits 16 to 23
//                 43   5 bytes  signature "MAJYO", case-sensitive
//                 64  10 x 2    chunk lengths, chunk 0 first
//                 84  10 x 5    escape records, one per chunk: literalMode, zeroRunCode,
//                               ffRunCode, fillRunCode, endOfLineCode
//                 other bytes are not read
//   offset 134   table block:
//                  16 colours, 524 bytes: 800 reference indices of 5 bits as one bit stream,
//                  most significant bit first (500 bytes), then the palette as 48 nibbles,
//                  high nibble first: red, green, blue of entry 0, then entry 1, ... A nibble
//                  v is the 8-bit component 17 v.
//                  8 colours, 400 bytes: 200 big-endian words, each with three indices in
//                  bits 14-10, 9-5 and 4-0 (bit 15 unused). No palette: the default applies.
//   offset 658 (16 colours) or 534 (8 colours): the ten chunks, back to back.
//
// The picture is a sequence of 160-byte lines. With P planes, line L is plane L mod P of line
// pair L / P, in the plane-byte layout of mergePlaneBytes; line pair 0 is the top of the
// picture, so a whole picture is 200 P lines. A decoded line is XORed with one of 32 history
// slots, the one its reference index names; the result is the output line and replaces slot
// L mod 32. A slot not yet written holds zeros; a line may name its own slot, which then holds
// the line 32 before it.
//
// Each chunk is a run of tokens, read with the chunk's own escape record. The first byte of a
// token is compared with the codes in this order (the first equal code wins):
//
//   zeroRunCode n       n bytes 0x00       literal mode, n = 255: the byte zeroRunCode
//   ffRunCode n         n bytes 0xFF       literal mode, n = 255: the byte ffRunCode
//   fillRunCode v n     n bytes v          literal mode, v = 255: the byte fillRunCode, and
//                                          no count follows
//   endOfLineCode       0x00 up to the end of the line; with literal mode on it is no code
//   any other byte      that byte
//
// A line is complete when it holds 160 bytes; the rest of a run that reaches past the line's
// end is dropped. Lines do not run on from one chunk into the next: an unfinished line at a
// chunk's end is dropped, and the next chunk starts a new line. An operand missing at a
// chunk's end reads as 0, so a cut-short run appends nothing. Lines beyond the picture's 200 P
// are decoded and then dropped. Picture lines that no line covers stay 0.
//
// Progress goes to the host as 0 of 400, then every 32 picture lines (32 to 384), then 400 of
// 400. Only the calls in between can cancel; the first and the closing one never do.
#include "q/q_loader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "framework/code_scan.h"

using namespace qformat;

namespace {

// The 8-bit component of a palette nibble.
std::uint8_t component(unsigned nibble) {
  return static_cast<std::uint8_t>((nibble & 0x0F) * kNibbleScale);
}

// The n-th nibble of a byte sequence, high nibble first.
unsigned nibbleAt(const std::uint8_t* bytes, int n) {
  std::uint8_t b = bytes[n / 2];
  return n % 2 == 0 ? b >> 4 : b & 0x0F;
}

}  // namespace

std::uint16_t QLoader::chunkLength(int chunk) const {
  return chunkLengthOf(header.data(), chunk);
}

EscapeRecord QLoader::escapeRecord(int chunk) const {
  const std::uint8_t* at = header.data() + kEscapeRecordsOffset + kEscapeRecordSize * chunk;
  return EscapeRecord{at[0], at[1], at[2], at[3], at[4]};
}

std::int32_t QLoader::declaredFileSize() const {
  return declaredFileSizeOf(header.data());
}

LoaderResult QLoader::checkFormat(const char* name, HostValue source) {
  if (!nameHasExtensionOf(kFormat, name)) return LoaderResult::UnknownFormat;
  LoaderResult r = attachRecognitionSource(source);
  if (r != LoaderResult::Ok) return r;
  r = readHeader();
  if (r != LoaderResult::Ok) return r;
  if (declaredFileSize() != computedSize) return LoaderResult::BadData;
  if (!hasSignature(header.data())) return LoaderResult::BadData;
  return LoaderResult::Ok;
}

LoaderResult QLoader::readHeader() {
  if (readBytes(header.data(), kHeaderSize) != kHeaderSize) return LoaderResult::BadData;

  const bool eightColors = isEightColor(header.data());
  width = kPictureWidth;
  height = kPictureHeight;
  bitsPerPixel = eightColors ? kEightColorPlanes : kSixteenColorPlanes;
  colorCount = 1 << bitsPerPixel;
  rowBytes = kRowBytes;
  reportColors(colorCount);

  std::uint8_t table[kSixteenColorTableSize];
  const int tableSize = tableSizeOf(header.data());
  if (readBytes(table, tableSize) != tableSize) return LoaderResult::BadData;

  computedSize = impliedFileSizeOf(header.data());

  if (eightColors) {
    for (int word = 0; word < kIndexWords; ++word) {
      const unsigned value = static_cast<unsigned>(table[2 * word] << 8 | table[2 * word + 1]);
      for (int i = 0; i < kIndicesPerWord; ++i) {
        const int shift = (kIndicesPerWord - 1 - i) * kIndexBits;
        referenceIndex[kIndicesPerWord * word + i] =
            static_cast<std::uint8_t>(value >> shift & kIndexMask);
      }
    }
    return LoaderResult::Ok;
  }

  // The 5-bit stream, most significant bit first: every 5 bytes hold 8 whole indices.
  constexpr int kGroupBytes = 5, kGroupIndices = 8;
  static_assert(kGroupBytes * 8 == kGroupIndices * kIndexBits && kMaxLines % kGroupIndices == 0);
  for (int group = 0; group < kMaxLines / kGroupIndices; ++group) {
    std::uint64_t bits = 0;
    for (int i = 0; i < kGroupBytes; ++i) bits = bits << 8 | table[kGroupBytes * group + i];
    for (int i = 0; i < kGroupIndices; ++i) {
      const int shift = (kGroupIndices - 1 - i) * kIndexBits;
      referenceIndex[kGroupIndices * group + i] =
          static_cast<std::uint8_t>(bits >> shift & kIndexMask);
    }
  }

  const std::uint8_t* nibbles = table + kPaletteOffset;
  for (int entry = 0; entry < kPaletteEntries; ++entry) {
    palette[entry].red = component(nibbleAt(nibbles, 3 * entry));
    palette[entry].green = component(nibbleAt(nibbles, 3 * entry + 1));
    palette[entry].blue = component(nibbleAt(nibbles, 3 * entry + 2));
  }
  return LoaderResult::Ok;
}

LoaderResult QLoader::fillPictureInfo(PictureInfoRecord* info) {
  fillCommonPictureInfo(info);
  info->textHandle = 0;
  if (header[0] < kFirstCommentByte) return LoaderResult::Ok;

  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, kCommentBlockSize);
  if (!block) return LoaderResult::NoMemory;
  auto* text = static_cast<std::uint8_t*>(GlobalLock(block));
  if (!text) {
    GlobalFree(block);
    return LoaderResult::LockFailed;
  }
  // The comment as it stands, then zeros: a terminator and no stale bytes.
  std::memcpy(text, header.data(), kCommentSize);
  std::memset(text + kCommentSize, 0, kCommentBlockSize - kCommentSize);
  GlobalUnlock(block);
  info->textHandle = block;
  return LoaderResult::Ok;
}

LoaderResult QLoader::buildBitmapInfo() {
  return buildBitmapInfoFrom(palette);
}

LoaderResult QLoader::decodePixels() {
  // Every line pair is written whole, and the pairs no line reached are zeroed at the end.
  std::uint8_t* pixels = nullptr;
  LoaderResult r = preparePixelBlock(pixels, false);
  if (r != LoaderResult::Ok) return r;

  // From a memory block every chunk is decoded where it lies, and the decoder reads no further
  // than the block does. Every chunk of a file is read into a buffer with kCodeScanRoom bytes
  // after it, which the wide steps may read.
  HGLOBAL bufferHandle = 0;
  std::uint8_t* buffer = nullptr;
  if (file >= 0) {
    int largest = 0;
    for (int k = 0; k < kChunkCount; ++k) largest = std::max<int>(largest, chunkLength(k));
    bufferHandle = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(largest + kCodeScanRoom));
    if (!bufferHandle) {
      GlobalUnlock(pixelHandle);
      return LoaderResult::NoMemory;
    }
    buffer = static_cast<std::uint8_t*>(GlobalLock(bufferHandle));
    if (!buffer) {
      GlobalFree(bufferHandle);
      GlobalUnlock(pixelHandle);
      return LoaderResult::LockFailed;
    }
  }

  reportProgress(0);  // never cancels
  for (int k = 0; k < kChunkCount && r == LoaderResult::Ok; ++k) {
    const std::uint16_t length = chunkLength(k);
    const std::uint8_t* chunk = nullptr;
    std::int32_t readable = 0;
    if (file < 0) {
      readable = memorySize - memoryPosition;
      chunk = bytesInPlace(length);
    } else if (readBytes(buffer, length) == length) {
      // What lies past the chunk does not change the result; zeros keep it defined.
      std::memset(buffer + length, 0, kCodeScanRoom);
      readable = length + kCodeScanRoom;
      chunk = buffer;
    }
    if (!chunk) {
      r = LoaderResult::BadData;
      break;
    }
    // Once the picture's lines are complete, the lines after them are dropped unseen; their
    // chunks are still read, and must be there.
    if (lineNumber < kLinePairs * bitsPerPixel &&
        decodeChunk(chunk, escapeRecord(k), length, readable, pixels) != 0) {
      r = LoaderResult::Cancelled;
    }
  }
  if (writtenPairs < linePair) writeCompletedPlanes(writtenPairs++, bitsPerPixel, pixels);
  // A line pair the chunks left unfinished shows the planes it has.
  if (linePair < kLinePairs && pairPlane != 0)
    writeCompletedPlanes(writtenPairs++, pairPlane, pixels);
  // The pairs below, at the start of the bottom-up block, stay 0.
  std::memset(pixels, 0, static_cast<std::size_t>(kPictureHeight - 2 * writtenPairs) * kRowBytes);
  reportProgress(height);  // made whatever the result, and never cancels

  if (bufferHandle) {
    GlobalUnlock(bufferHandle);
    GlobalFree(bufferHandle);
  }
  GlobalUnlock(pixelHandle);
  return r;
}

int QLoader::decodeChunk(const std::uint8_t* chunk, const EscapeRecord& codes, std::uint16_t length,
                         std::int32_t readable, std::uint8_t* pixels) {
  switch (widePath()) {
    case WidePath::Avx2:
      return decodeChunkAvx2(chunk, codes, length, readable, pixels);
    case WidePath::Sse2:
      return decodeChunkSse2(chunk, codes, length, readable, pixels);
    case WidePath::Portable:
      break;
  }
  return decodeChunkWith<WidePath::Portable>(chunk, codes, length, readable, pixels);
}

[[gnu::flatten]] int QLoader::decodeChunkSse2(const std::uint8_t* chunk, const EscapeRecord& codes,
                                              std::uint16_t length, std::int32_t readable,
                                              std::uint8_t* pixels) {
  return decodeChunkWith<WidePath::Sse2>(chunk, codes, length, readable, pixels);
}

[[gnu::flatten]] int QLoader::decodeChunkAvx2(const std::uint8_t* chunk, const EscapeRecord& codes,
                                              std::uint16_t length, std::int32_t readable,
                                              std::uint8_t* pixels) {
  return decodeChunkWith<WidePath::Avx2>(chunk, codes, length, readable, pixels);
}

template <WidePath kPath>
inline int QLoader::decodeChunkWith(const std::uint8_t* chunk, const EscapeRecord& codes,
                                    std::uint16_t length, std::int32_t readable,
                                    std::uint8_t* pixels) {
  const bool literalMode = codes.literalMode != 0;

  // The bytes that start a code; any other byte is a plain byte of the line. In a busy
  // picture plain bytes come in long stretches, which are applied whole rather than token by
  // token.
  const CodeScan<kPath> steps(codes.zeroRunCode, codes.ffRunCode, codes.fillRunCode,
                              literalMode ? codes.zeroRunCode : codes.endOfLineCode);

  // Each line is written anew into the spare buffer from the history line it names: every
  // token writes its bytes of that line XORed with its own, and reads nothing the tokens
  // before it wrote. A line beyond the picture is decoded and dropped: it starts from slot 0.
  std::uint8_t* line = lineBuffers[spareBuffer];
  auto referenceLine = [&] {
    const int slot = lineNumber < kLinePairs * bitsPerPixel ? referenceIndex[lineNumber] : 0;
    return lineBuffers[slotBuffer[slot]];
  };
  const std::uint8_t* reference = referenceLine();
  int fill = 0;

  // Operands past the chunk's end read as 0, whatever the caller's buffer holds there.
  auto operandAt = [&](int at) -> std::uint8_t { return at < length ? chunk[at] : 0; };
  // Applies a run, as much of it as fits in the line.
  auto run = [&](std::uint8_t value, int count) {
    count = std::min(count, kLineBytes - fill);
    steps.xorRunFrom(reference + fill, value, count, line + fill);
    fill += count;
  };
  auto literal = [&](std::uint8_t value) {
    line[fill] = reference[fill] ^ value;
    ++fill;
  };

  int at = 0;
  while (at < length) {
    const std::uint8_t first = chunk[at++];
    if (!steps.isCode(first)) {
      // A plain byte, and the plain bytes after it as far as the line has room, applied
      // together.
      // Near the end of a block without room after it, byte by byte.
      const int from = at - 1;
      const int to = std::min<int>(length, from + kLineBytes - fill);
      const int end =
          readable - to >= kCodeScanRoom
              ? steps.xorUntilCodeFrom(chunk, from, to, reference + fill, line + fill)
              : steps.xorUntilCodeByBytes(chunk, from, to, reference + fill, line + fill);
      fill += end - from;
      at = end;
    } else if (first == codes.zeroRunCode) {
      const std::uint8_t count = operandAt(at++);
      if (literalMode && count == kLiteralOperand) {
        literal(first);
      } else {
        run(0x00, count);
      }
    } else if (first == codes.ffRunCode) {
      const std::uint8_t count = operandAt(at++);
      if (literalMode && count == kLiteralOperand) {
        literal(first);
      } else {
        run(0xFF, count);
      }
    } else if (first == codes.fillRunCode) {
      const std::uint8_t value = operandAt(at++);
      if (literalMode && value == kLiteralOperand) {
        literal(first);
      } else {
        run(value, operandAt(at++));
      }
    } else {  // endOfLineCode, literal mode off: 0x00 to the line's end
      run(0x00, kLineBytes - fill);
    }

    if (fill == kLineBytes) {
      fill = 0;
      if (completeLine(pixels)) return 1;
      line = lineBuffers[spareBuffer];
      reference = referenceLine();
    }
  }
  return 0;  // an unfinished line is dropped
}

void QLoader::writeCompletedPlanes(int pair, int planes, std::uint8_t* pixels) const {
  const std::uint8_t* lines[kMaxPlanes] = {};
  for (int plane = 0; plane < planes; ++plane) {
    lines[plane] = lineBuffers[slotBuffer[(pair * bitsPerPixel + plane) % kHistorySlots]];
  }
  writeLinePair(lines, linePairRow(pixels, pair));
}

bool QLoader::completeLine(std::uint8_t* pixels) {
  const int number = lineNumber++;
  if (number >= kLinePairs * bitsPerPixel) return false;  // beyond the picture: dropped

  // The line's buffer becomes its slot's, and the slot's old buffer the spare.
  std::swap(slotBuffer[number % kHistorySlots], spareBuffer);

  // The planes of a line pair are written together once the pair after it is complete too:
  // the history still holds them (two pairs take at most 8 of the 32 slots), and the lines
  // just decoded are not read back at once, which would wait for their last stores.
  if (++pairPlane < bitsPerPixel) return false;
  pairPlane = 0;
  if (writtenPairs < linePair) writeCompletedPlanes(writtenPairs++, bitsPerPixel, pixels);
  ++linePair;
  const int done = 2 * linePair;
  return linePair % kProgressLinePairs == 0 && done < height && reportProgress(done) != 0;
}
