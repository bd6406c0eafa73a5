// SPDX-License-Identifier: MIT
// ImageLoader: the base class of both format loaders.
//
// One loader object serves exactly one export call. It holds the byte source the picture is
// read from (a file opened by name, a file handle of the host, or a memory block), the two
// output blocks GetPicture hands over, the host's progress function, and the picture's
// geometry. The six format operations are virtual and answer NotProvided here; a format loader
// overrides all but buildPreview. The destructor frees every block still held and closes a file
// the loader opened itself, on every path out of an export.
#pragma once

#include <cstdint>

#include "framework/host_interface.h"
#include "framework/linked_host.h"
#include "framework/picture_geometry.h"
#include "framework/platform.h"

// A companion as a loader reads it: a file it opened by name, or bytes a linked host holds
// (framework/linked_host.h). False when there is none.
struct Companion {
  HFILE file = HFILE_ERROR;
  const HeldCompanion* held = nullptr;
  std::int32_t position = 0;  // of a held companion: the next byte to read

  explicit operator bool() const { return file >= 0 || held; }
  // Reads up to count bytes forward (_lread on a file) and answers how many it delivered; a
  // file's read error answers -1 as _lread does.
  UINT read(void* destination, UINT count);
  // Moves to offset from the start; false when that fails or lies beyond the end.
  bool seek(LONG offset);
};

class ImageLoader {
 public:
  ImageLoader() = default;
  ~ImageLoader();
  ImageLoader(const ImageLoader&) = delete;
  ImageLoader& operator=(const ImageLoader&) = delete;

  // The format operations, in the order of the table of virtual operations.
  virtual LoaderResult checkFormat(const char* fileName, HostValue source);
  virtual LoaderResult readHeader();
  virtual LoaderResult fillPictureInfo(PictureInfoRecord* info);
  virtual LoaderResult buildPreview();
  virtual LoaderResult buildBitmapInfo();
  virtual LoaderResult decodePixels();

  // Byte sources. Exactly one is attached per loader.
  LoaderResult selectSource(const void* source, HostLength length, std::uint32_t flags);
  LoaderResult openByName(const char* name);
  LoaderResult attachHandle(HFILE handle);
  LoaderResult attachMemory(const void* block, std::int32_t size);
  // IsSupported's source: a value below 0x10000 is a host file handle, any other value the
  // address of the file's first kRecognitionBlockSize bytes.
  LoaderResult attachRecognitionSource(HostValue source);

  // Reads up to count bytes forward from the source and answers how many it delivered. Every
  // caller treats a shortfall as BadData.
  int readBytes(void* destination, std::int32_t count);
  // From a memory source: the next count bytes where they lie in the block; moves past them.
  // Null from a file, and when fewer than count bytes remain.
  const std::uint8_t* bytesInPlace(std::int32_t count) {
    if (file >= 0 || count > memorySize - memoryPosition) return nullptr;
    const std::uint8_t* at = memory + memoryPosition;
    memoryPosition += count;
    return at;
  }

  // Companions (the GRA plug-in only): the file named like a picture opened by name with its
  // 1- to 3-letter extension replaced (the name copy keeps the replacement), or, when a linked
  // host handed companions over, the held one whose name carries that extension; either only
  // when it is exactly expectedSize bytes long, at its start. False when there is none.
  Companion openCompanion(const char* extension, std::int32_t expectedSize);
  void closeCompanion(Companion& companion);

  // Outputs, handed to the host by GetPicture on success.
  HGLOBAL infoHandle = 0;
  HGLOBAL pixelHandle = 0;

  ProgressCallback progress = nullptr;
  HostValue userData = 0;

  // Geometry, set by the format's readHeader.
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bitsPerPixel = 0;  // the number of bit planes
  std::int32_t colorCount = 0;
  std::int32_t rowBytes = 0;

  // The source.
  std::int32_t memorySize = 0;
  std::int32_t memoryPosition = 0;
  HFILE file = HFILE_ERROR;  // -1: the source is the memory block
  char* fileName = nullptr;  // copy of the name the loader opened; null when it opened none
  const std::uint8_t* memory = nullptr;

  // Set only by a host that links the plug-in in, never by the DLL's exports: the companions
  // it holds in memory (null: files by name), and where the loader tells what it used.
  const HeldCompanions* heldCompanions = nullptr;
  LoaderReport* report = nullptr;

 protected:
  // The shared steps of DIB output.
  // Builds the information block in infoHandle: the header and all 16 entries of palette.
  LoaderResult buildBitmapInfoFrom(const Palette& palette);
  // The fields of the picture-information record that every format fills alike.
  void fillCommonPictureInfo(PictureInfoRecord* info) const;
  // Allocates the pixel block in pixelHandle, locks it and fills it with 0, or, without
  // zeroFill, leaves its bytes undefined for a decoder that writes every one of them.
  LoaderResult preparePixelBlock(std::uint8_t*& pixels, bool zeroFill = true);
  // Calls the host's progress function, when there is one, and answers its answer (0 without).
  int reportProgress(int done) const { return progress ? progress(done, height, userData) : 0; }
  // Tell a linked host's report, when there is one, the colours shown and a companion taken
  // (by the name it was taken by).
  void reportColors(int count) const {
    if (report) report->colors(count);
  }
  void reportCompanion(const Companion& companion, CompanionUse use) const;

 private:
  bool ownsFile = false;  // file was opened by openByName and is closed at destruction
};
