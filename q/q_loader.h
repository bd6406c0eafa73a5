// SPDX-License-Identifier: MIT
// QLoader: the format loader of the Q plug-in.
#pragma once

#include <array>
#include <cstdint>

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
  // Answers 1 when the host cancelled through progress, else 0 when the chunk is used up.
  int decodeChunk(const std::uint8_t* chunk, const qformat::EscapeRecord& codes,
                  std::uint16_t length, std::uint8_t* pixels);

  // Fields of the header as read.
  std::uint16_t chunkLength(int chunk) const;
  qformat::EscapeRecord escapeRecord(int chunk) const;
  std::int32_t declaredFileSize() const;

  std::array<std::uint8_t, qformat::kHeaderSize> header{};  // filled by readHeader
  Palette palette = DefaultPalette;
  std::uint8_t historyRing[qformat::kHistorySlots][qformat::kLineBytes] = {};
  std::uint8_t referenceIndex[qformat::kMaxLines] = {};
  std::int32_t lineNumber = 0;    // lines completed so far
  std::int32_t computedSize = 0;  // the file length the header implies

 private:
  // XORs the full line with its reference slot into the history, merges its line pair into
  // the pixel block when the line is the pair's last plane, and reports progress. Answers true
  // when the host asked to stop.
  bool completeLine(const std::uint8_t* line, std::uint8_t* pixels);
  // Merges planes 0 to planes - 1 of a line pair from the history into the pixel block.
  void mergeCompletedPlanes(int pair, int planes, std::uint8_t* pixels) const;
};

#ifndef _WIN32
template <>
struct NativeModuleOf<QLoader> {
  static const NativeModule module;
};
#endif
