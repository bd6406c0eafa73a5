// SPDX-License-Identifier: MIT
// Helpers of the Q tests: hand-made files, decoding through the exports, reading lines back out
// of the pixel block, and test pictures for the writer.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "framework/little_endian.h"
#include "framework/plugin_exports.h"
#include "q/q_loader.h"
#include "q/writer/q_writer.h"
#include "tests/support/pictures.h"
#include "tests/support/test_support.h"

using Qdec = PluginExports<QLoader>;
using qformat::EscapeRecord;
using Line = std::array<std::uint8_t, qformat::kLineBytes>;

constexpr HGLOBAL kUntouched = 0xDEADBEEF;

// A field of the packed host record, by value: the comparison macros bind references, which a
// packed field may not be aligned for.
template <class T>
T field(T value) {
  return value;
}

// Escape codes unlikely to meet the data of hand-made chunks.
constexpr std::uint8_t kZ = 0xF0, kF = 0xF1, kR = 0xF2, kE = 0xF3;
constexpr EscapeRecord kCodes{0, kZ, kF, kR, kE};
constexpr EscapeRecord kLiteralCodes{1, kZ, kF, kR, kE};

// A Q file put together field by field.
struct HandMadeQ {
  bool eightColors = false;
  std::array<std::uint8_t, 32> comment{};
  // Each line names its own slot: lines 0 to 31 are output as decoded.
  std::array<std::uint8_t, qformat::kMaxLines> indices = [] {
    std::array<std::uint8_t, qformat::kMaxLines> own;
    for (int n = 0; n < qformat::kMaxLines; ++n) own[n] = static_cast<std::uint8_t>(n % 32);
    return own;
  }();
  std::array<std::uint8_t, qformat::kPaletteBytes> paletteBytes{};
  std::array<EscapeRecord, qformat::kChunkCount> codes = [] {
    std::array<EscapeRecord, qformat::kChunkCount> all;
    all.fill(kCodes);
    return all;
  }();
  std::array<Bytes, qformat::kChunkCount> chunks{};

  Bytes build() const {
    Bytes file(qformat::kHeaderSize, 0);
    std::memcpy(file.data(), comment.data(), comment.size());
    file[qformat::kColorModeOffset] = eightColors ? 0 : 1;
    std::memcpy(file.data() + qformat::kSignatureOffset, "MAJYO", 5);
    for (int k = 0; k < qformat::kChunkCount; ++k) {
      writeLe16(file.data() + qformat::kChunkLengthsOffset + 2 * k,
                static_cast<std::uint16_t>(chunks[k].size()));
      const EscapeRecord& r = codes[k];
      std::uint8_t* at = file.data() + qformat::kEscapeRecordsOffset + 5 * k;
      at[0] = r.literalMode;
      at[1] = r.zeroRunCode;
      at[2] = r.ffRunCode;
      at[3] = r.fillRunCode;
      at[4] = r.endOfLineCode;
    }
    if (eightColors) {
      for (int w = 0; w < 200; ++w) {
        unsigned word = indices[3 * w] << 10 | indices[3 * w + 1] << 5 | indices[3 * w + 2];
        file.push_back(static_cast<std::uint8_t>(word >> 8));
        file.push_back(static_cast<std::uint8_t>(word));
      }
    } else {
      Bytes table(524, 0);
      for (int n = 0; n < 800; ++n) {
        for (int b = 0; b < 5; ++b) {
          int bit = 5 * n + b;
          if (indices[n] >> (4 - b) & 1)
            table[bit / 8] |= static_cast<std::uint8_t>(0x80 >> bit % 8);
        }
      }
      std::memcpy(table.data() + 500, paletteBytes.data(), paletteBytes.size());
      file.insert(file.end(), table.begin(), table.end());
    }
    for (const Bytes& chunk : chunks) file.insert(file.end(), chunk.begin(), chunk.end());
    writeLe24(file.data() + qformat::kFileSizeOffset, static_cast<std::uint32_t>(file.size()));
    return file;
  }
};

// Appends bytes to a chunk.
inline void add(Bytes& chunk, std::initializer_list<int> bytes) {
  for (int b : bytes) chunk.push_back(static_cast<std::uint8_t>(b));
}
inline void addRepeated(Bytes& chunk, int value, int count) {
  chunk.insert(chunk.end(), static_cast<std::size_t>(count), static_cast<std::uint8_t>(value));
}
// A full line of plain bytes 1, 2, 3, ... (none of them a code of kCodes).
inline Line countingLine(int start = 1) {
  Line line;
  for (int i = 0; i < qformat::kLineBytes; ++i)
    line[i] = static_cast<std::uint8_t>((start + i) % 0xE0);
  return line;
}
inline void addLine(Bytes& chunk, const Line& line) {
  chunk.insert(chunk.end(), line.begin(), line.end());
}

// What GetPicture from memory answers and hands over.
struct Decoded {
  LoaderResult result = LoaderResult::NotProvided;
  Bytes info;    // empty unless handed over
  Bytes pixels;  // empty unless handed over
};

inline Decoded decode(const Bytes& file, ProgressCallback progress = nullptr, HostValue user = 0) {
  Decoded d;
  HGLOBAL info = kUntouched, pixels = kUntouched;
  d.result =
      Qdec::getPicture(reinterpret_cast<const char*>(file.data()),
                       static_cast<std::int32_t>(file.size()), 1, &info, &pixels, progress, user);
  host_contract::HandedPicture handed =
      standInContract().afterPicture("GetPicture", d.result, info, pixels, kUntouched);
  d.info = std::move(handed.info);
  d.pixels = std::move(handed.pixels);
  return d;
}

// Line number of a picture with the given plane count, read back out of a pixel block.
inline Line lineOf(const Bytes& pixels, int number, int planes = 4) {
  const int plane = number % planes;
  const int pair = number / planes;
  const std::uint8_t* lower = pixels.data() + (kPictureHeight - 2 - 2 * pair) * kRowBytes;
  const std::uint8_t* upper = lower + kRowBytes;
  Line line{};
  for (int i = 0; i < qformat::kLineBytes; ++i) {
    unsigned bits = 0;
    for (int x = 0; x < 4; ++x) {
      auto pixel = [&](const std::uint8_t* row) {
        std::uint8_t b = row[2 * i + x / 2];
        return (x % 2 == 0 ? b >> 4 : b & 15) >> plane & 1;
      };
      bits |= static_cast<unsigned>(pixel(upper)) << (7 - x);
      bits |= static_cast<unsigned>(pixel(lower)) << (3 - x);
    }
    line[i] = static_cast<std::uint8_t>(bits);
  }
  return line;
}

inline Line zeroLine() {
  return Line{};
}
inline Line xorOf(const Line& a, const Line& b) {
  Line r;
  for (int i = 0; i < qformat::kLineBytes; ++i) r[i] = a[i] ^ b[i];
  return r;
}

// The pixel block a picture decodes to: bottom row first, high nibble the left pixel.
inline Bytes expectedPixels(const QPicture& picture) {
  Bytes block(kPixelBlockSize, 0);
  for (int y = 0; y < kPictureHeight; ++y) {
    std::uint8_t* row = block.data() + (kPictureHeight - 1 - y) * kRowBytes;
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t v = picture.pixels[y * kPictureWidth + x];
      row[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? v << 4 : v);
    }
  }
  return block;
}

// The 16 colour-table entries an information block should carry for a picture.
inline Palette expectedPalette(const QPicture& picture) {
  if (picture.eightColors) return DefaultPalette;
  Palette p{};
  for (int i = 0; i < kPaletteEntries; ++i) {
    const Color4& c = picture.palette[i];
    p[i] = rgb(static_cast<std::uint8_t>(c.red * 17), static_cast<std::uint8_t>(c.green * 17),
               static_cast<std::uint8_t>(c.blue * 17));
  }
  return p;
}

// The test-picture library's mixed scene (its sparse one keeps files small), on the heap.
inline std::unique_ptr<QPicture> testPicture(bool eightColors, unsigned seed, bool sparse = false) {
  using pictures::Scene;
  return std::make_unique<QPicture>(
      pictures::qPicture(sparse ? Scene::Sparse : Scene::Mixed, seed, eightColors ? 8 : 16));
}
