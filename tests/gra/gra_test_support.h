// SPDX-License-Identifier: MIT
// Helpers of the GRA tests: decoding through the exports, hand-made files, progress logs and
// what a reader is expected to show of a written picture.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "gra/writer/gra_writer.h"
#include "tests/support/pictures.h"
#include "tests/support/test_support.h"

using Gradec = PluginExports<GraLoader>;

constexpr HGLOBAL kUntouched = 0xDEADBEEF;

// The host's progress function: logs each call and answers non-zero from the call whose done
// value is cancelAt on (never when cancelAt is below 0).
struct ProgressLog {
  std::vector<std::pair<int, int>> calls;
  int cancelAt = -1;
  HostValue self() { return reinterpret_cast<HostValue>(this); }
  std::vector<int> done() const {
    std::vector<int> values;
    for (const auto& call : calls) values.push_back(call.first);
    return values;
  }
};

inline int WINAPI logProgress(int done, int total, HostValue userData) {
  auto* log = reinterpret_cast<ProgressLog*>(userData);
  log->calls.emplace_back(done, total);
  return log->cancelAt >= 0 && done == log->cancelAt ? 1 : 0;
}

// What GetPicture handed over: the pixel values top row first, and the colour table.
struct Decoded {
  LoaderResult result = LoaderResult::NotProvided;
  std::vector<std::uint8_t> pixels;  // 640 x 400 values, row-major, top row first
  Palette palette{};
  Bytes infoBlock;
};

// Checks the host contract after the call and takes the blocks over.
inline Decoded takeDecoded(LoaderResult result, HGLOBAL info, HGLOBAL pixels) {
  Decoded decoded;
  decoded.result = result;
  host_contract::HandedPicture handed =
      standInContract().afterPicture("GetPicture", result, info, pixels, kUntouched);
  if (result != LoaderResult::Ok) return decoded;
  decoded.infoBlock = std::move(handed.info);
  const Bytes block = std::move(handed.pixels);
  if (decoded.infoBlock.size() == static_cast<std::size_t>(kInfoBlockSize)) {
    std::memcpy(decoded.palette.data(), decoded.infoBlock.data() + kInfoHeaderSize,
                sizeof(Palette));
  }
  if (block.size() != static_cast<std::size_t>(kPixelBlockSize)) return decoded;
  decoded.pixels.resize(static_cast<std::size_t>(kPictureWidth) * kPictureHeight);
  for (int y = 0; y < kPictureHeight; ++y) {
    const std::uint8_t* row = block.data() + (kPictureHeight - 1 - y) * kRowBytes;
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t b = row[x / 2];
      decoded.pixels[static_cast<std::size_t>(y) * kPictureWidth + x] = x % 2 ? b & 15 : b >> 4;
    }
  }
  return decoded;
}

// GetPicture from a memory block or by name. countsOfCall, when given, receives the platform's
// operation counts right after the call, before the test takes the blocks.
inline Decoded decodeMemory(const Bytes& file, ProgressLog* log = nullptr,
                            platform::OperationCounts* countsOfCall = nullptr) {
  HGLOBAL info = kUntouched;
  HGLOBAL pixels = kUntouched;
  LoaderResult r = Gradec::getPicture(
      reinterpret_cast<const char*>(file.data()), static_cast<std::int32_t>(file.size()),
      kSourceIsMemory, &info, &pixels, log ? logProgress : nullptr, log ? log->self() : 0);
  if (countsOfCall) *countsOfCall = platform::operationCounts();
  return takeDecoded(r, info, pixels);
}

inline Decoded decodeFile(const std::string& path, ProgressLog* log = nullptr,
                          platform::OperationCounts* countsOfCall = nullptr) {
  HGLOBAL info = kUntouched;
  HGLOBAL pixels = kUntouched;
  LoaderResult r = Gradec::getPicture(path.c_str(), 0, kSourceIsFileName, &info, &pixels,
                                      log ? logProgress : nullptr, log ? log->self() : 0);
  if (countsOfCall) *countsOfCall = platform::operationCounts();
  return takeDecoded(r, info, pixels);
}

// The colour table a reader builds from 4-bit colours.
inline Palette paletteFrom(const GraColors& colors) {
  Palette palette{};
  for (int k = 0; k < kPaletteEntries; ++k) {
    palette[k] = rgb(graComponent(colors[k].red), graComponent(colors[k].green),
                     graComponent(colors[k].blue));
  }
  return palette;
}

inline std::unique_ptr<GraPicture> newPicture() {
  return std::make_unique<GraPicture>();
}

// What a reader shows of a written picture: planes 0 to 2 inside the window, plane 3 (with the
// "e1" file) over the whole rows of the window's line pairs, 0 elsewhere.
inline std::vector<std::uint8_t> readerView(const GraPicture& picture, const GraWindow& window,
                                            bool withFourthPlane) {
  std::vector<std::uint8_t> view(picture.pixels.size(), 0);
  for (int y = 2 * window.top; y < 2 * window.bottom; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t value = 0;
      if (x >= window.left * kGraColumnPixels && x < window.right * kGraColumnPixels) {
        value |= picture.at(x, y) & 7;
      }
      if (withFourthPlane) value |= picture.at(x, y) & 8;
      view[static_cast<std::size_t>(y) * kPictureWidth + x] = value;
    }
  }
  return view;
}

inline std::vector<std::uint8_t> pixelsOf(const GraPicture& picture) {
  return {picture.pixels.begin(), picture.pixels.end()};
}

// Where two pixel lists first differ, for readable failures.
inline std::string firstDifference(const std::vector<std::uint8_t>& got,
                                   const std::vector<std::uint8_t>& want) {
  if (got.size() != want.size()) return "sizes differ";
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i]) {
      return "pixel (" + std::to_string(i % kPictureWidth) + ", " +
             std::to_string(i / kPictureWidth) + ") is " + std::to_string(got[i]) + ", expected " +
             std::to_string(want[i]);
    }
  }
  return "none";
}

// Hand-made GRA files.
struct GraFileBuilder {
  GraHeader header{};
  Bytes data;

  GraFileBuilder(std::uint8_t skipCode = 0xF0, std::uint8_t invertCode = 0xF1,
                 std::uint8_t xorRunCode = 0xF2) {
    header.headerBlocks = 1;
    header.skipCode = skipCode;
    header.invertCode = invertCode;
    header.xorRunCode = xorRunCode;
    std::memcpy(header.signature, kGraSignature, sizeof kGraSignature);
  }
  GraFileBuilder& window(int left, int right, int top, int bottom, std::uint8_t mode = 0x02) {
    header.windowLeft = static_cast<std::uint8_t>(left);
    header.windowRight = static_cast<std::uint8_t>(right);
    header.windowTop = static_cast<std::uint8_t>(top);
    header.windowBottom = static_cast<std::uint8_t>(bottom);
    header.modeFlags = mode;
    return *this;
  }
  GraFileBuilder& repeat(int pairs = 1) {
    data.insert(data.end(), static_cast<std::size_t>(pairs), kGraRepeatPair);
    return *this;
  }
  // A coded pair: the flag byte and three chunks (each given without its length byte).
  GraFileBuilder& pair(std::uint8_t flags, const Bytes& chunk0, const Bytes& chunk1,
                       const Bytes& chunk2) {
    data.push_back(flags);
    for (const Bytes* chunk : {&chunk0, &chunk1, &chunk2}) {
      data.push_back(static_cast<std::uint8_t>(chunk->size()));
      data.insert(data.end(), chunk->begin(), chunk->end());
    }
    return *this;
  }
  Bytes bytes() const {
    Bytes file(reinterpret_cast<const std::uint8_t*>(&header),
               reinterpret_cast<const std::uint8_t*>(&header) + sizeof header);
    file.insert(file.end(), data.begin(), data.end());
    return file;
  }
};

// A whole-picture file whose remaining pairs all repeat.
inline Bytes withRepeatsTo(GraFileBuilder builder, int codedPairs) {
  builder.repeat(kLinePairs - codedPairs);
  return builder.bytes();
}

using pictures::Scene;
