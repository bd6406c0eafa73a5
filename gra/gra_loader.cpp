// SPDX-License-Identifier: MIT
// GraLoader: reads GRA pictures.
//
// A GRA picture is 640 x 400 pixels of 16 colours, kept as four bit planes: planes 0 to 2 are
// coded in the picture file, plane 3 lies in a separate file. Pixel value = plane 0 as bit 0,
// plane 1 as bit 1, plane 2 as bit 2, plane 3 as bit 3.
//
// Header. One or more 16-byte blocks (byte 1 gives their number; 0 and 1 both mean one). Of
// the first block:
//   byte 1       number of header blocks; further blocks are skipped unread
//   bytes 2-5    window left, right (exclusive) in 8-pixel columns, top, bottom (exclusive)
//                in line pairs; in force only in the window layout
//   byte 7       skipCode      escape bytes of the three codes below
//   byte 8       invertCode
//   byte 9       xorRunCode
//   byte 10      low 4 bits: layout; 2 = window layout, anything else = whole picture
//   bytes 13-15  signature "WED", tested only when recognising a file
// In the window layout a left edge past the last column means the last column, a top edge
// past the last line pair the last pair; a right or bottom edge of 0 or past the picture
// means the picture's edge.
//
// Line pairs. The picture is coded two rows at a time: pair p is rows 2p and 2p + 1. A plane
// line of a pair is 160 bytes; each byte holds 4 pixels of the upper row in bits 7 to 4 and
// the same 4 pixels of the lower row in bits 3 to 0, leftmost pixel in the highest bit. Byte j
// of a plane line covers pixels 8 x left + 4j to 8 x left + 4j + 3, and only the first
// (right - left) x 2 bytes reach the picture. The plane lines keep their contents from one
// pair to the next (all 0 before the first). For each pair of the window, top pair first:
//   flag byte    0: the pair repeats the planes of the previous pair, nothing follows.
//                Otherwise three chunks follow, for planes 0, 1 and 2. Plane 0 is changed
//                from its own previous contents. Bits 2-3: 0x04 plane 1 is changed from its
//                own contents; any other value: plane 1 first becomes a copy of the new plane
//                0. Bits 4-5: 0x10 plane 2 from its own contents; 0x20 a copy of the new
//                plane 0; 0x00 and 0x30 a copy of the new plane 1. Bits 0-1 and 6-7 only make
//                the byte non-zero.
//   chunk        a length byte L, then L bytes: the starting offset within the plane line
//                (it counts towards L), then codes that XOR changes into the line from that
//                offset on, moving right:
//     skipCode skipCode        XOR the current byte with skipCode, move 1
//     skipCode n               move n bytes without change
//     invertCode invertCode    XOR the current byte with invertCode, move 1
//     invertCode n             invert n bytes (n = 0: nothing)
//     xorRunCode xorRunCode    XOR the current byte with xorRunCode, move 1
//     xorRunCode v n           XOR n bytes with v (n = 0: nothing)
//     b                        any other byte: XOR the current byte with b, move 1
//   The escape bytes are tested in the order skip, invert, XOR run, so when two are equal the
//   earlier code wins; within a code the doubled escape byte is tested before its count or
//   value. L is tested between codes only: a code cut short by the chunk's end takes zeros as
//   its missing arguments and so changes nothing. Positions past the end of the plane line
//   change nothing; the current byte only moves right, so the rest of such a chunk is void.
// There is no end marker: one flag byte (and its chunks) per pair of the window, and nothing
// after the last pair is read.
//
// Companion files, used only beside a picture opened by name (or, from a host that links the
// plug-in in, as the companions it holds in memory) and only at their exact sizes:
//   "rgb"  48 bytes: red, green, blue for colours 0 to 15; a byte v gives the component
//          ((v x 16) mod 256) OR v, so 0 to 15 give 0x00 to 0xFF.
//   "e1"   32000 bytes: plane 3 as 400 rows of 80 bytes, top row first, bit 7 the leftmost
//          of 8 pixels. Row y belongs to picture row y: before the window's first pair the
//          rows above it are passed over, then each decoded pair takes the next two rows and
//          merges them over its whole rows from the first pixel.
//
// Progress: (0, 400) before decoding, (2p, 400) after each pair p that is a multiple of 16
// (32, 64, ..., 384 for a whole picture), and (400, 400) at the end, also after a failure.
// The start call and the periodic calls can cancel; the end call cannot.
#include "gra/gra_loader.h"

#include <algorithm>
#include <cstring>

#include "framework/code_scan.h"

namespace {

// Window edges in columns become pixel-block offsets of 4 bytes (8 pixels of 4 bits).
constexpr int kColumnBlockBytes = kGraColumnPixels / 2;

// A chunk and the room after it, which the wide steps of CodeScan may read.
constexpr int kChunkBufferSize = kGraMaxChunkLength + kGraChunkPadding;
static_assert(kGraChunkPadding >= kCodeScanRoom &&
              kGraPlaneLineRoom >= kPlaneLineBytes + kCodeScanRoom);

// The two rows of the fourth plane that a line pair takes, and how many pairs' rows are read
// from the file at once: a whole picture's in two reads (each read is a system call, which
// costs more than the copy), with 16000 bytes on the stack.
constexpr int kFourthPlanePairBytes = 2 * kGraFourthPlaneRowBytes;
constexpr int kFourthPlanePairsPerRead = 100;

// The two rows of the fourth plane that a line pair takes (upper row first), as the pair's
// plane line of plane 3: e1 byte j covers plane bytes 2j (its high nibble) and 2j + 1 (its low
// nibble), and a plane byte holds the upper row's 4 pixels in its high nibble.
void fourthPlaneLine(const std::uint8_t* rows, std::uint8_t* planeLine) {
  const std::uint8_t* upper = rows;
  const std::uint8_t* lower = rows + kGraFourthPlaneRowBytes;
  for (int j = 0; j < kGraFourthPlaneRowBytes; ++j) {
    planeLine[2 * j] = static_cast<std::uint8_t>((upper[j] & 0xF0) | lower[j] >> 4);
    planeLine[2 * j + 1] = static_cast<std::uint8_t>(upper[j] << 4 | (lower[j] & 0x0F));
  }
}

// Copies the two rows of a line pair. In pieces of a fixed size, which compilers copy in
// registers: as one call of unknown cost the copy would start slowly, and would read back the
// rows just stored in pieces of other sizes.
void copyRowPair(const std::uint8_t* from, std::uint8_t* to) {
  constexpr int kPiece = 32;
  static_assert(2 * kRowBytes % kPiece == 0);
  for (int i = 0; i < 2 * kRowBytes; i += kPiece) std::memcpy(to + i, from + i, kPiece);
}

// The coded data after the header, taken in order. From a file it is read in blocks: a line
// pair takes up to seven small reads (flag byte, three length bytes, three chunks), and each
// read would be a system call. From a memory block a chunk is used where it lies when
// kGraChunkPadding bytes follow it, which applyPlaneChunk may read.
class CodedData {
 public:
  explicit CodedData(ImageLoader& loader) : loader_(loader) {}

  // The next byte; false when the source ends first.
  bool byte(std::uint8_t& out) {
    if (loader_.file < 0) {
      const std::uint8_t* at = loader_.bytesInPlace(1);
      if (at) out = *at;
      return at != nullptr;
    }
    return take(&out, 1);
  }

  // The next chunk, after its length byte: where it lies, or copied to buffer (room for the
  // longest chunk and kGraChunkPadding bytes after it). Null when the source ends first.
  const std::uint8_t* chunk(std::uint8_t* buffer, std::uint16_t& length) {
    std::uint8_t lengthByte;
    if (!byte(lengthByte)) return nullptr;
    length = lengthByte;
    if (loader_.file < 0) {
      if (loader_.memorySize - loader_.memoryPosition - length >= kGraChunkPadding) {
        return loader_.bytesInPlace(length);
      }
      return loader_.readBytes(buffer, length) == length ? buffer : nullptr;
    }
    return take(buffer, length) ? buffer : nullptr;
  }

 private:
  // Copies the next count bytes of a file to out; false when it ends first.
  bool take(std::uint8_t* out, int count) {
    while (count > 0) {
      if (position_ == filled_) {
        filled_ = loader_.readBytes(buffer_, kBlockSize);
        position_ = 0;
        if (filled_ <= 0) {
          filled_ = 0;
          return false;
        }
      }
      const int n = std::min(count, filled_ - position_);
      std::memcpy(out, buffer_ + position_, static_cast<std::size_t>(n));
      position_ += n;
      out += n;
      count -= n;
    }
    return true;
  }

  static constexpr int kBlockSize = 16384;
  ImageLoader& loader_;
  std::uint8_t buffer_[kBlockSize];
  int filled_ = 0;
  int position_ = 0;
};

// The fourth-plane companion, read in order from its start (after passing over the rows above the
// window), for up to kFourthPlanePairsPerRead line pairs of the window at once.
struct FourthPlaneRows {
  explicit FourthPlaneRows(Companion opened) : companion(opened) {}
  bool open() const { return static_cast<bool>(companion); }

  // The two rows of the window's next line pair, upper row first; null when the file does not
  // deliver them whole (nothing is read after a short read).
  const std::uint8_t* next(int pair, const GraWindow& window) {
    if (nextPair == pairsRead && !ended) {
      bool positioned = true;
      if (pair == window.top && window.top > 0) {
        LONG offset = window.top * kFourthPlanePairBytes;
        positioned = companion.seek(offset);
      }
      const int pairs = std::min(kFourthPlanePairsPerRead, window.bottom - pair);
      const UINT wanted = static_cast<UINT>(pairs * kFourthPlanePairBytes);
      const UINT got = positioned ? companion.read(rows, wanted) : 0;
      ended = got != wanted;
      pairsRead = got <= wanted ? static_cast<int>(got) / kFourthPlanePairBytes : 0;
      nextPair = 0;
    }
    return nextPair < pairsRead ? rows + nextPair++ * kFourthPlanePairBytes : nullptr;
  }

  Companion companion;
  std::uint8_t rows[kFourthPlanePairsPerRead * kFourthPlanePairBytes];
  int pairsRead = 0;  // pairs whose rows arrived whole with the last read
  int nextPair = 0;   // of those, the next pair's
  bool ended = false;
};

}  // namespace

LoaderResult GraLoader::checkFormat(const char* fileName, HostValue source) {
  // A host that passes no name gets the answer for a name without the extension.
  if (!nameHasExtensionOf(kGraFormat, fileName)) return LoaderResult::UnknownFormat;
  LoaderResult r = attachRecognitionSource(source);
  if (r != LoaderResult::Ok) return r;
  r = readHeader();
  if (r != LoaderResult::Ok) return r;
  return graHasSignature(header) ? LoaderResult::Ok : LoaderResult::BadData;
}

LoaderResult GraLoader::readHeader() {
  if (readBytes(&header, kGraHeaderBlockSize) != kGraHeaderBlockSize) return LoaderResult::BadData;
  headerBytes = graHeaderBytes(header);
  std::uint8_t skipped[kGraHeaderBlockSize];
  for (int consumed = kGraHeaderBlockSize; consumed < headerBytes;
       consumed += kGraHeaderBlockSize) {
    if (readBytes(skipped, kGraHeaderBlockSize) != kGraHeaderBlockSize) {
      return LoaderResult::BadData;
    }
  }
  width = kPictureWidth;
  height = kPictureHeight;
  bitsPerPixel = 4;
  colorCount = kPaletteEntries;
  rowBytes = kRowBytes;
  reportColors(1 << kGraCodedPlanes);  // 16 once a fourth plane is taken
  readPaletteFile();
  return LoaderResult::Ok;
}

void GraLoader::readPaletteFile() {
  Companion companion = openCompanion(kGraPaletteExtension, kGraPaletteFileSize);
  if (!companion) return;
  std::uint8_t colours[kGraPaletteFileSize];
  if (companion.read(colours, kGraPaletteFileSize) == static_cast<UINT>(kGraPaletteFileSize)) {
    for (int k = 0; k < kPaletteEntries; ++k) {
      palette[k].red = graComponent(colours[3 * k]);
      palette[k].green = graComponent(colours[3 * k + 1]);
      palette[k].blue = graComponent(colours[3 * k + 2]);
    }
    reportCompanion(companion, CompanionUse::Palette);
  }
  closeCompanion(companion);
}

Companion GraLoader::openFourthPlane() {
  Companion companion = openCompanion(kGraFourthPlaneExtension, ((width + 7) / 8) * height);
  if (companion) {
    reportCompanion(companion, CompanionUse::FourthPlane);
    reportColors(1 << (kGraCodedPlanes + 1));
  }
  return companion;
}

LoaderResult GraLoader::fillPictureInfo(PictureInfoRecord* info) {
  fillCommonPictureInfo(info);
  info->textHandle = 0;
  // A linked host's report tells the colours, which only the fourth plane decides: it is
  // looked for here as decodePixels looks for it, and closed again.
  if (report) {
    Companion fourthPlane = openFourthPlane();
    closeCompanion(fourthPlane);
  }
  return LoaderResult::Ok;
}

LoaderResult GraLoader::buildBitmapInfo() {
  return buildBitmapInfoFrom(palette);
}

namespace {

// applyPlaneChunk on the path of CodeScan<kPath>.
template <WidePath kPath>
inline void applyChunkWith(const GraHeader& header, std::uint8_t* planeLine,
                           const std::uint8_t* chunk, std::uint16_t length) {
  const std::uint8_t skipCode = header.skipCode;
  const std::uint8_t invertCode = header.invertCode;
  const std::uint8_t xorRunCode = header.xorRunCode;
  const CodeScan<kPath> escapes(skipCode, invertCode, xorRunCode, xorRunCode);
  // The chunk's bytes, and 0 for those past its end.
  auto byteAt = [&](unsigned at) -> std::uint8_t { return at < length ? chunk[at] : 0; };
  // XORs count bytes from the current one with value, as far as the line reaches.
  unsigned current = byteAt(0);
  auto xorRun = [&](unsigned count, std::uint8_t value) {
    unsigned end = current + count < kPlaneLineBytes ? current + count : kPlaneLineBytes;
    if (current < end) escapes.xorRun(planeLine + current, value, static_cast<int>(end - current));
    current += count;
  };
  unsigned consumed = 1;
  while (consumed < length && current < kPlaneLineBytes) {
    std::uint8_t code = chunk[consumed++];
    if (!escapes.isCode(code)) {
      // A plain byte XORs the current byte. So do the plain bytes after it, up to the next
      // escape byte, as far as the line reaches: one stretch, XORed whole.
      const unsigned from = consumed - 1;
      const unsigned stop = std::min(unsigned{length}, from + kPlaneLineBytes - current);
      const auto end = static_cast<unsigned>(escapes.xorUntilCode(
          chunk, static_cast<int>(from), static_cast<int>(stop), planeLine + current));
      current += end - from;
      consumed = end;
    } else if (code == skipCode) {
      std::uint8_t count = byteAt(consumed++);
      if (count == skipCode) {
        planeLine[current++] ^= skipCode;
      } else {
        current += count;
      }
    } else if (code == invertCode) {
      std::uint8_t count = byteAt(consumed++);
      if (count == invertCode) {
        planeLine[current++] ^= invertCode;
      } else {
        xorRun(count, 0xFF);
      }
    } else {  // xorRunCode
      std::uint8_t value = byteAt(consumed++);
      if (value == xorRunCode) {
        planeLine[current++] ^= xorRunCode;
      } else {
        xorRun(byteAt(consumed++), value);
      }
    }
  }
}

[[gnu::flatten]] WITH_SSE2_STEPS void applyChunkSse2(const GraHeader& header,
                                                     std::uint8_t* planeLine,
                                                     const std::uint8_t* chunk,
                                                     std::uint16_t length) {
  applyChunkWith<WidePath::Sse2>(header, planeLine, chunk, length);
}

[[gnu::flatten]] WITH_AVX2_STEPS void applyChunkAvx2(const GraHeader& header,
                                                     std::uint8_t* planeLine,
                                                     const std::uint8_t* chunk,
                                                     std::uint16_t length) {
  applyChunkWith<WidePath::Avx2>(header, planeLine, chunk, length);
}

}  // namespace

void GraLoader::applyPlaneChunk(std::uint8_t* planeLine, const std::uint8_t* chunk,
                                std::uint16_t length) const {
  switch (widePath()) {
    case WidePath::Avx2:
      return applyChunkAvx2(header, planeLine, chunk, length);
    case WidePath::Sse2:
      return applyChunkSse2(header, planeLine, chunk, length);
    case WidePath::Portable:
      break;
  }
  applyChunkWith<WidePath::Portable>(header, planeLine, chunk, length);
}

LoaderResult GraLoader::decodePixels() {
  const GraWindow window = graWindowOf(header);
  const int mergeCount = (window.right - window.left) * kGraPlaneBytesPerColumn;
  // A window as wide as the picture has its pairs' rows written whole, over whatever the
  // block held; only the rows above and below it are zeroed. Any other window is ORed into a
  // zeroed block.
  const bool wholeRows = mergeCount == kPlaneLineBytes;
  std::uint8_t* pixels = nullptr;
  LoaderResult result = preparePixelBlock(pixels, !wholeRows);
  if (result != LoaderResult::Ok) return result;
  if (wholeRows) {
    const auto rowsBytes = [](int pairs) {
      return static_cast<std::size_t>(2 * pairs) * kRowBytes;
    };
    std::memset(pixels, 0, rowsBytes(kLinePairs - window.bottom));
    std::memset(linePairRow(pixels, window.top - 1), 0, rowsBytes(window.top));
  }

  if (reportProgress(0) != 0) result = LoaderResult::Cancelled;

  std::uint8_t planeLines[kGraCodedPlanes][kGraPlaneLineRoom] = {};
  std::uint8_t chunkBuffer[kChunkBufferSize];
  CodedData data(*this);
  FourthPlaneRows fourthPlane(openFourthPlane());
  std::uint8_t fourthPlanePlaneLine[kPlaneLineBytes];

  for (int pair = window.top; pair < window.bottom; ++pair) {
    std::uint8_t pairFlags;
    if (!data.byte(pairFlags)) {
      result = LoaderResult::BadData;
      break;
    }
    if (pairFlags != kGraRepeatPair) {
      bool complete = true;
      for (int plane = 0; plane < kGraCodedPlanes; ++plane) {
        std::uint16_t length = 0;
        const std::uint8_t* chunk = data.chunk(chunkBuffer, length);
        if (!chunk) result = LoaderResult::BadData;
        if (result != LoaderResult::Ok) {
          complete = false;
          break;
        }
        if (plane == 1 && (pairFlags & kGraPlane1SourceMask) != kGraPlane1FromOwn) {
          std::memcpy(planeLines[1], planeLines[0], kPlaneLineBytes);
        } else if (plane == 2) {
          std::uint8_t source = pairFlags & kGraPlane2SourceMask;
          if (source == kGraPlane2FromPlane0) {
            std::memcpy(planeLines[2], planeLines[0], kPlaneLineBytes);
          } else if (source != kGraPlane2FromOwn) {
            std::memcpy(planeLines[2], planeLines[1], kPlaneLineBytes);
          }
        }
        applyPlaneChunk(planeLines[plane], chunk, length);
      }
      if (!complete) break;
    }

    // Planes 0 to 2 cover the window's columns; the fourth plane, when there is one, whole
    // rows. All planes that cover the same bytes are merged in one pass.
    std::uint8_t* lowerRow = linePairRow(pixels, pair);
    const std::uint8_t* planes[kMaxPlanes] = {planeLines[0], planeLines[1], planeLines[2]};
    if (fourthPlane.open()) {
      if (const std::uint8_t* rows = fourthPlane.next(pair, window)) {
        fourthPlaneLine(rows, fourthPlanePlaneLine);
        if (mergeCount == kPlaneLineBytes) {
          planes[kGraFourthPlaneBit] = fourthPlanePlaneLine;
        } else {
          const std::uint8_t* fourthOnly[kMaxPlanes] = {};
          fourthOnly[kGraFourthPlaneBit] = fourthPlanePlaneLine;
          mergeLinePair(fourthOnly, kPlaneLineBytes, lowerRow);
        }
      } else {
        result = LoaderResult::BadData;
      }
    }
    if (pairFlags == kGraRepeatPair && pair > window.top && !fourthPlane.open()) {
      // The same planes as the pair above, whose two rows (the next two in the bottom-up
      // block) hold nothing else: copy them.
      copyRowPair(lowerRow + 2 * kRowBytes, lowerRow);
    } else if (wholeRows) {
      writeLinePair(planes, lowerRow);
    } else {
      mergeLinePair(planes, mergeCount, lowerRow + window.left * kColumnBlockBytes);
    }

    if (pair % kGraProgressPairs == 0 && 2 * pair > 0 && 2 * pair < height &&
        reportProgress(2 * pair) != 0) {
      result = LoaderResult::Cancelled;
    }
    if (result != LoaderResult::Ok) break;
  }

  closeCompanion(fourthPlane.companion);
  reportProgress(height);
  GlobalUnlock(pixelHandle);
  return result;
}
