// SPDX-License-Identifier: MIT
// QLoader: the format loader of the Q plug-in.
#pragma once

#include <array>
#include <cstdint>

#include "framework/code_scan.h"
#include "framework/image_loader.h"
#include "q/q_format.h"

class QLoader : public ImageLoader {
 public:
  QLoader() = default;

  // IsSupported: the ".q" or ".Q" extension, then the header and table block from the host's
  // handle or block, then the declared file size against the one the header implies, then the
  // signature.
  LoaderResult checkFormat(const char* fileName, HostValue source) override;
  // Reads the header and the table block: geometry, reference indices and, with 16 colours,
  // the palette. Checks neither the signature nor the file size.
  LoaderResult readHeader() override;
  // The common fields, and the comment, when there is one, as a block the host then owns.
  LoaderResult fillPictureInfo(PictureInfoRecord* info) override;
  LoaderResult buildBitmapInfo() override;
  // Decodes the ten chunks that follow the table block into the pixel block.
  LoaderResult decodePixels() override;

  // Decodes one chunk of length bytes with its escape record into the locked pixel block.
  // The first readable bytes from the chunk's start may be read, at least length (what lies
  // past the chunk does not change the result). Answers 1 when the host cancelled through
  // progress, else 0 when the chunk is used up.
  int decodeChunk(const std::uint8_t* chunk, const qformat::EscapeRecord& codes,
                  std::uint16_t length, std::int32_t readable, std::uint8_t* pixels);

  // Fields of the header as read.
  std::uint16_t chunkLength(int chunk) const;
  qformat::EscapeRecord escapeRecord(int chunk) const;
  std::int32_t declaredFileSize() const;

  std::array<std::uint8_t, qformat::kHeaderSize> header{};  // filled by readHeader
  Palette palette = DefaultPalette;
  std::uint8_t referenceIndex[qformat::kMaxLines] = {};
  std::int32_t computedSize = 0;  // the file length the header implies

 private:
  // decodeChunk on the path of CodeScan<kPath>, and with the wide paths' steps compiled in
  // (see code_scan.h).
  template <WidePath kPath>
  int decodeChunkWith(const std::uint8_t* chunk, const qformat::EscapeRecord& codes,
                      std::uint16_t length, std::int32_t readable, std::uint8_t* pixels);
  WITH_SSE2_STEPS int decodeChunkSse2(const std::uint8_t* chunk, const qformat::EscapeRecord& codes,
                                      std::uint16_t length, std::int32_t readable,
                                      std::uint8_t* pixels);
  WITH_AVX2_STEPS int decodeChunkAvx2(const std::uint8_t* chunk, const qformat::EscapeRecord& codes,
                                      std::uint16_t length, std::int32_t readable,
                                      std::uint8_t* pixels);
  // Makes the full line its slot's history line, writes the line pair before its own into the
  // pixel block when the line is its pair's last plane, and reports progress. Answers true when the
  // host asked to stop.
  bool completeLine(std::uint8_t* pixels);
  // Writes planes 0 to planes - 1 of a line pair from the history over its two rows of the
  // pixel block; the others are 0.
  void writeCompletedPlanes(int pair, int planes, std::uint8_t* pixels) const;

  // The history: line L goes to slot L mod kHistorySlots, whose line is held by buffer
  // slotBuffer[slot] of lineBuffers. The buffer left over, spareBuffer, takes the line being
  // decoded and trades places with its slot's buffer when the line is complete. Each buffer
  // has room past the line for the wide steps of CodeScan.
  static constexpr int kLineRoom = qformat::kLineBytes + kCodeScanRoom;
  std::uint8_t lineBuffers[qformat::kHistorySlots + 1][kLineRoom] = {};
  std::array<std::uint8_t, qformat::kHistorySlots> slotBuffer = [] {
    std::array<std::uint8_t, qformat::kHistorySlots> buffers{};
    for (int slot = 0; slot < qformat::kHistorySlots; ++slot) {
      buffers[slot] = static_cast<std::uint8_t>(slot);
    }
    return buffers;
  }();
  std::uint8_t spareBuffer = qformat::kHistorySlots;
  std::int32_t lineNumber = 0;    // lines completed so far, in the picture and beyond it
  std::int32_t linePair = 0;      // the picture's line pair that the next line goes to
  std::int32_t pairPlane = 0;     // and its plane
  std::int32_t writtenPairs = 0;  // the line pairs written into the pixel block
};

#ifndef _WIN32
template <>
struct NativeModuleOf<QLoader> {
  static const NativeModule module;
};
#endif
