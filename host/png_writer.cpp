// SPDX-License-Identifier: MIT
// A PNG file is an 8-byte signature and a sequence of chunks, each a 4-byte big-endian length,
// a 4-byte type, the data and a CRC-32 of type and data. Written here, in this order:
//   IHDR  width, height (4 bytes each), bit depth, colour type, compression method 0,
//         filter method 0, interlace method 0
//   PLTE  the palette, 3 bytes (red, green, blue) an entry, for palette pictures
//   tEXt  a keyword of 1 to 79 Latin-1 characters, a zero byte, the text (not terminated)
//   IDAT  the image data: each row, top first, as a filter type byte and the filtered row,
//         compressed as one zlib stream (split over several IDAT chunks only when it exceeds
//         the largest chunk)
//   IEND  nothing
#include "host/png_writer.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <memory>

namespace host {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::array<std::uint8_t, 8> kSignature{137, 'P', 'N', 'G', '\r', '\n', 26, '\n'};
constexpr std::size_t kLargestChunk = 0x7FFFFFFF;  // the chunk length field's limit
constexpr std::size_t kLargestKeyword = 79;

// The row filter types: each byte of a filtered row is the byte less a prediction from the
// byte to its left (a), the one above (b) and the one above that (c).
enum Filter : std::uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };
constexpr int kFilters = 5;

void putBe32(std::uint8_t* to, std::uint32_t value) {
  to[0] = static_cast<std::uint8_t>(value >> 24);
  to[1] = static_cast<std::uint8_t>(value >> 16);
  to[2] = static_cast<std::uint8_t>(value >> 8);
  to[3] = static_cast<std::uint8_t>(value);
}

void appendBe32(Bytes& out, std::uint32_t value) {
  std::uint8_t bytes[4];
  putBe32(bytes, value);
  out.insert(out.end(), bytes, bytes + 4);
}

void appendChunk(Bytes& out, const char (&type)[5], const std::uint8_t* data, std::size_t size) {
  appendBe32(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  appendBe32(out, static_cast<std::uint32_t>(libdeflate_crc32(0, out.data() + start, size + 4)));
}

std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Filters row (above: the row before, zeros for the first) with filter into out; step is the
// distance in bytes to the corresponding byte of the pixel to the left. Answers the sum of the
// output bytes taken as signed, the measure of how well the filter predicted.
std::uint64_t filterRow(Filter filter, const std::uint8_t* row, const std::uint8_t* above,
                        std::size_t size, std::size_t step, std::uint8_t* out) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const int a = i >= step ? row[i - step] : 0;
    const int b = above[i];
    const int c = i >= step ? above[i - step] : 0;
    int predicted = 0;
    switch (filter) {
      case kNone:
        break;
      case kSub:
        predicted = a;
        break;
      case kUp:
        predicted = b;
        break;
      case kAverage:
        predicted = (a + b) / 2;
        break;
      case kPaeth:
        predicted = paeth(a, b, c);
        break;
    }
    const auto value = static_cast<std::uint8_t>(row[i] - predicted);
    out[i] = value;
    sum += value < 128 ? value : 256 - value;
  }
  return sum;
}

bool validKeyword(const std::string& keyword) {
  if (keyword.empty() || keyword.size() > kLargestKeyword) return false;
  if (keyword.front() == ' ' || keyword.back() == ' ' || keyword.find("  ") != std::string::npos)
    return false;
  return std::all_of(keyword.begin(), keyword.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return (c >= 32 && c <= 126) || c >= 161;
  });
}

struct CompressorDeleter {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// The zlib stream of data at level, empty when libdeflate cannot start or fails.
Bytes compress(const Bytes& data, int level) {
  std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
      libdeflate_alloc_compressor(level));
  if (!compressor) return {};
  Bytes compressed(libdeflate_zlib_compress_bound(compressor.get(), data.size()));
  compressed.resize(libdeflate_zlib_compress(compressor.get(), data.data(), data.size(),
                                             compressed.data(), compressed.size()));
  return compressed;
}

}  // namespace

Result writePng(const PngImage& image, Bytes& out, int level) {
  out.clear();
  const bool palette = image.colorType == PngColorType::Palette;
  const int channels = palette ? 1 : 3;
  const int depth = image.bitDepth;
  const bool depthFits =
      palette ? depth == 1 || depth == 2 || depth == 4 || depth == 8 : depth == 8;
  if (image.width <= 0 || image.height <= 0 || !depthFits ||
      (palette && (image.palette.empty() || image.palette.size() > (1u << depth))))
    return {LoaderResult::BadData,
            "the picture has no pixels, or a palette or depth a PNG cannot hold"};
  const std::uint64_t rowBits = std::uint64_t(image.width) * channels * image.bitDepth;
  const std::uint64_t rowBytes = (rowBits + 7) / 8;
  const std::uint64_t filteredBytes = (rowBytes + 1) * std::uint64_t(image.height);
  if (filteredBytes > std::numeric_limits<std::size_t>::max() / 2)
    return {LoaderResult::BadData, "the picture is too large to write as a PNG here"};
  for (const PngText& text : image.texts) {
    if (!validKeyword(text.keyword))
      return {LoaderResult::BadData, "the PNG text keyword \"" + text.keyword +
                                         "\" is not 1 to 79 printable Latin-1 characters"};
    if (text.text.find('\0') != std::string::npos)
      return {LoaderResult::BadData, "the PNG text \"" + text.keyword + "\" holds a zero byte"};
  }

  // The filtered rows. Palette and low-depth rows predict badly from their neighbours, whose
  // bytes are indices or packed samples, so they go unfiltered.
  const auto stride = static_cast<std::size_t>(rowBytes);
  const std::size_t step = std::max<std::size_t>(1, std::size_t(channels) * image.bitDepth / 8);
  Bytes filtered(static_cast<std::size_t>(filteredBytes));
  const Bytes zeros(stride, 0);
  Bytes candidates[kFilters];
  const bool adaptive = !palette && image.bitDepth >= 8;
  if (adaptive) {
    for (Bytes& candidate : candidates) candidate.resize(stride);
  }
  const std::uint8_t* above = zeros.data();
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* row = image.row(image.source, y);
    std::uint8_t* to = filtered.data() + std::size_t(y) * (stride + 1);
    if (!adaptive) {
      to[0] = kNone;
      std::copy(row, row + stride, to + 1);
      continue;
    }
    int best = kNone;
    std::uint64_t bestSum = std::numeric_limits<std::uint64_t>::max();
    for (int f = kNone; f < kFilters; ++f) {
      const std::uint64_t sum =
          filterRow(static_cast<Filter>(f), row, above, stride, step, candidates[f].data());
      if (sum < bestSum) {
        best = f;
        bestSum = sum;
      }
    }
    to[0] = static_cast<std::uint8_t>(best);
    std::copy(candidates[best].begin(), candidates[best].end(), to + 1);
    above = row;
  }

  const Bytes compressed = compress(filtered, level);
  if (compressed.empty()) return {LoaderResult::NoMemory, "the PNG encoder failed (libdeflate)"};
  const std::size_t compressedSize = compressed.size();

  std::size_t textBytes = 0;
  for (const PngText& text : image.texts)
    textBytes += 12 + text.keyword.size() + 1 + text.text.size();
  out.reserve(kSignature.size() + 25 + 12 + 3 * image.palette.size() + textBytes + compressedSize +
              12 * (compressedSize / kLargestChunk + 1) + 12);
  out.assign(kSignature.begin(), kSignature.end());

  std::uint8_t header[13];
  putBe32(header, static_cast<std::uint32_t>(image.width));
  putBe32(header + 4, static_cast<std::uint32_t>(image.height));
  header[8] = static_cast<std::uint8_t>(image.bitDepth);
  header[9] = static_cast<std::uint8_t>(image.colorType);
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, not interlaced
  appendChunk(out, "IHDR", header, sizeof header);

  if (palette) {
    Bytes entries;
    for (const RgbQuad& c : image.palette) entries.insert(entries.end(), {c.red, c.green, c.blue});
    appendChunk(out, "PLTE", entries.data(), entries.size());
  }
  for (const PngText& text : image.texts) {
    Bytes data(text.keyword.begin(), text.keyword.end());
    data.push_back(0);
    data.insert(data.end(), text.text.begin(), text.text.end());
    appendChunk(out, "tEXt", data.data(), data.size());
  }
  for (std::size_t at = 0; at < compressedSize; at += kLargestChunk) {
    appendChunk(out, "IDAT", compressed.data() + at, std::min(kLargestChunk, compressedSize - at));
  }
  appendChunk(out, "IEND", nullptr, 0);
  return {};
}

}  // namespace host
