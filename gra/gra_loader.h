// SPDX-License-Identifier: MIT
// GraLoader: the format loader of the GRA plug-in.
#pragma once

#include <cstdint>

#include "framework/image_loader.h"
#include "gra/gra_format.h"

// The buffers applyPlaneChunk works on: a chunk is followed by this many bytes that may be
// read, and a plane line by this many bytes of room (plain bytes are XORed in whole blocks of
// up to 32 bytes).
constexpr int kGraChunkPadding = 32;
constexpr int kGraPlaneLineRoom = kPlaneLineBytes + 32;

class GraLoader : public ImageLoader {
 public:
  GraLoader() = default;

  // Extension ".gra" in any letter case, then the header of the host's handle or memory block
  // and its signature.
  LoaderResult checkFormat(const char* fileName, HostValue source) override;
  // Reads the header blocks, sets the fixed geometry and takes the colours of an "rgb" file
  // beside a picture opened by name. Leaves the source at the first coded line pair.
  LoaderResult readHeader() override;
  LoaderResult fillPictureInfo(PictureInfoRecord* info) override;
  LoaderResult buildBitmapInfo() override;
  // Decodes the line pairs of the window into the pixel block, adds the "e1" fourth plane and
  // reports progress.
  LoaderResult decodePixels() override;

  // Applies one chunk of length bytes (its starting offset and its codes) to a plane line of
  // kPlaneLineBytes bytes, with the escape bytes of the header. The chunk is followed by
  // kGraChunkPadding bytes that may be read (what they hold does not change the result: a code
  // cut short by the chunk's end takes 0 for its missing arguments) and the plane line by room
  // up to kGraPlaneLineRoom bytes, which is read and written back unchanged.
  void applyPlaneChunk(std::uint8_t* planeLine, const std::uint8_t* chunk,
                       std::uint16_t length) const;

  GraHeader header{};
  Palette palette = DefaultPalette;
  std::int32_t headerBytes = 0;

 private:
  void readPaletteFile();
  // The "e1" companion, when there is one of the picture's size; told to a linked host's report.
  Companion openFourthPlane();
};

#ifndef _WIN32
template <>
struct NativeModuleOf<GraLoader> {
  static const NativeModule module;
};
#endif
