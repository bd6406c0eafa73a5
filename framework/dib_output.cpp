// SPDX-License-Identifier: MIT
// DIB output: the information block, the common picture-information fields, the pixel block
// and the plane writer.
#include <array>
#include <bit>
#include <cstring>

#include "framework/image_loader.h"
#include "framework/little_endian.h"

#if defined(WIDE_PATHS_AVX2)
#include <immintrin.h>
#elif defined(WIDE_PATHS_SSE2)
#include <emmintrin.h>
#endif

namespace {

// For each nibble of a plane byte (4 pixels of one line), the two pixel-block bytes with bit 0
// of each pixel set, as a little-endian 16-bit value: byte 0 holds the 1st pixel in its high
// nibble and the 2nd in its low nibble, byte 1 the 3rd and 4th.
constexpr std::array<std::uint16_t, 16> kNibblePixels = [] {
  std::array<std::uint16_t, 16> table{};
  for (int n = 0; n < 16; ++n) {
    unsigned byte0 = ((n >> 3) & 1) << 4 | ((n >> 2) & 1);
    unsigned byte1 = ((n >> 1) & 1) << 4 | (n & 1);
    table[n] = static_cast<std::uint16_t>(byte0 | byte1 << 8);
  }
  return table;
}();

void orPixels(std::uint8_t* at, unsigned bits) {
  at[0] |= static_cast<std::uint8_t>(bits);
  at[1] |= static_cast<std::uint8_t>(bits >> 8);
}

}  // namespace

void mergePlaneBytes(int plane, int count, const std::uint8_t* planeBytes, std::uint8_t* rowPair) {
  std::uint8_t* lower = rowPair;
  std::uint8_t* upper = rowPair + kRowBytes;
  for (int i = 0; i < count; ++i) {
    unsigned b = planeBytes[i];
    orPixels(upper + 2 * i, static_cast<unsigned>(kNibblePixels[b >> 4]) << plane);
    orPixels(lower + 2 * i, static_cast<unsigned>(kNibblePixels[b & 15]) << plane);
  }
}

namespace {

// mergeLinePair works on a word of plane bytes of every plane at once: 4 bytes in a 32-bit
// integer on the portable path, 16 bytes in an SSE2 register, 32 in an AVX2 register. The
// bytes of plane p hold bit p of 8 pixels each (a 4-pixel group of the upper and of the lower
// line); the block wants the 4 bits of each pixel side by side, so every step is the same bit
// transpose of the words of the four planes, then an interleaving of the words that hold the
// first and the second block byte of each group. Pixel k of a group is bit 7 - k (upper line)
// and 3 - k (lower line) of a plane byte. Words are loaded and stored in the byte order of the
// machine, which is little-endian on every target.
static_assert(std::endian::native == std::endian::little);
using Lines = const std::uint8_t* const (&)[kMaxPlanes];

std::uint32_t load4(const std::uint8_t* at) {
  std::uint32_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// How a step puts its bytes into the block: ORed into what is there, or stored over it.
enum class Put { Or, Store };

template <Put kPut>
void put4(std::uint8_t* at, std::uint32_t bits) {
  const std::uint32_t word = kPut == Put::Or ? load4(at) | bits : bits;
  std::memcpy(at, &word, sizeof word);
}

// Exchanges, in every byte, the bits of low that mask selects with the bits of high that lie
// shift places above them. Bits moved across a byte edge by the shift fall outside mask.
void swapBits4(std::uint32_t& high, std::uint32_t& low, int shift, std::uint32_t mask) {
  const std::uint32_t t = ((high >> shift) ^ low) & mask;
  low ^= t;
  high ^= t << shift;
}

// Puts the bytes of first and second into 8 bytes at out, alternately: first[0], second[0],
// first[1], second[1], ...
template <Put kPut>
void putInterleaved4(std::uint8_t* out, std::uint32_t first, std::uint32_t second) {
  auto spread = [](std::uint32_t x) { return (x & 0xFF) | (x & 0xFF00) << 8; };  // x0 0 x1 0
  put4<kPut>(out, spread(first & 0xFFFF) | spread(second & 0xFFFF) << 8);
  put4<kPut>(out + 4, spread(first >> 16) | spread(second >> 16) << 8);
}

// The steps over whole words from plane byte i on: each answers where it stopped, and the
// plane bytes from there on are left to the narrower steps.
template <Put kPut>
int mergeWords4(Lines line, int i, int count, std::uint8_t* upper, std::uint8_t* lower) {
  for (; i + 4 <= count; i += 4) {
    std::uint32_t w0 = load4(line[0] + i), w1 = load4(line[1] + i);
    std::uint32_t w2 = load4(line[2] + i), w3 = load4(line[3] + i);
    // Planes 0 and 1, 2 and 3 trade alternate bits: w0 and w2 then hold pixels 1 and 3, w1
    // and w3 pixels 0 and 2, as 2-bit values (the lower plane in the lower bit).
    swapBits4(w0, w1, 1, 0x55555555);
    swapBits4(w2, w3, 1, 0x55555555);
    // They trade bit pairs: wg holds pixel 3 - g as 4-bit values, upper line in the high
    // nibble, lower line in the low nibble.
    swapBits4(w0, w2, 2, 0x33333333);
    swapBits4(w1, w3, 2, 0x33333333);
    // They trade nibbles: w3 and w2 become the first block byte of each group (pixels 0 and
    // 1) of the upper and the lower line, w1 and w0 the second (pixels 2 and 3).
    swapBits4(w2, w3, 4, 0x0F0F0F0F);
    swapBits4(w0, w1, 4, 0x0F0F0F0F);
    putInterleaved4<kPut>(upper + 2 * i, w3, w1);
    putInterleaved4<kPut>(lower + 2 * i, w2, w0);
  }
  return i;
}

#if defined(WIDE_PATHS_SSE2)
// The same transpose in SSE2 and AVX2 registers, compiled for those instruction sets alone and
// taken only on processors that have them.
#define SSE2_STEP WITH_SSE2_STEPS __attribute__((always_inline)) inline

SSE2_STEP __m128i load16(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

template <Put kPut>
SSE2_STEP void put16(std::uint8_t* at, __m128i bits) {
  if (kPut == Put::Or) bits = _mm_or_si128(load16(at), bits);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(at), bits);
}

template <int kShift>
SSE2_STEP void swapBits16(__m128i& high, __m128i& low, __m128i mask) {
  const __m128i t = _mm_and_si128(_mm_xor_si128(_mm_srli_epi32(high, kShift), low), mask);
  low = _mm_xor_si128(low, t);
  high = _mm_xor_si128(high, _mm_slli_epi32(t, kShift));
}

template <Put kPut>
SSE2_STEP void putInterleaved16(std::uint8_t* out, __m128i first, __m128i second) {
  put16<kPut>(out, _mm_unpacklo_epi8(first, second));
  put16<kPut>(out + 16, _mm_unpackhi_epi8(first, second));
}

template <Put kPut>
WITH_SSE2_STEPS int mergeWords16(Lines line, int i, int count, std::uint8_t* upper,
                                 std::uint8_t* lower) {
  const __m128i m1 = _mm_set1_epi8(0x55);
  const __m128i m2 = _mm_set1_epi8(0x33);
  const __m128i m4 = _mm_set1_epi8(0x0F);
  for (; i + 16 <= count; i += 16) {
    __m128i w0 = load16(line[0] + i), w1 = load16(line[1] + i);
    __m128i w2 = load16(line[2] + i), w3 = load16(line[3] + i);
    swapBits16<1>(w0, w1, m1);
    swapBits16<1>(w2, w3, m1);
    swapBits16<2>(w0, w2, m2);
    swapBits16<2>(w1, w3, m2);
    swapBits16<4>(w2, w3, m4);
    swapBits16<4>(w0, w1, m4);
    putInterleaved16<kPut>(upper + 2 * i, w3, w1);
    putInterleaved16<kPut>(lower + 2 * i, w2, w0);
  }
  return i;
}
#undef SSE2_STEP
#endif

#if defined(WIDE_PATHS_AVX2)
#define AVX2_STEP WITH_AVX2_STEPS __attribute__((always_inline)) inline

AVX2_STEP __m256i load32(const std::uint8_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

template <Put kPut>
AVX2_STEP void put32(std::uint8_t* at, __m256i bits) {
  if (kPut == Put::Or) bits = _mm256_or_si256(load32(at), bits);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), bits);
}

template <int kShift>
AVX2_STEP void swapBits32(__m256i& high, __m256i& low, __m256i mask) {
  const __m256i t = _mm256_and_si256(_mm256_xor_si256(_mm256_srli_epi32(high, kShift), low), mask);
  low = _mm256_xor_si256(low, t);
  high = _mm256_xor_si256(high, _mm256_slli_epi32(t, kShift));
}

// The byte unpacks work within each 128-bit half, so the halves of their results are put back
// in order.
template <Put kPut>
AVX2_STEP void putInterleaved32(std::uint8_t* out, __m256i first, __m256i second) {
  const __m256i low = _mm256_unpacklo_epi8(first, second);
  const __m256i high = _mm256_unpackhi_epi8(first, second);
  put32<kPut>(out, _mm256_permute2x128_si256(low, high, 0x20));
  put32<kPut>(out + 32, _mm256_permute2x128_si256(low, high, 0x31));
}

template <Put kPut>
WITH_AVX2_STEPS int mergeWords32(Lines line, int i, int count, std::uint8_t* upper,
                                 std::uint8_t* lower) {
  const __m256i m1 = _mm256_set1_epi8(0x55);
  const __m256i m2 = _mm256_set1_epi8(0x33);
  const __m256i m4 = _mm256_set1_epi8(0x0F);
  for (; i + 32 <= count; i += 32) {
    __m256i w0 = load32(line[0] + i), w1 = load32(line[1] + i);
    __m256i w2 = load32(line[2] + i), w3 = load32(line[3] + i);
    swapBits32<1>(w0, w1, m1);
    swapBits32<1>(w2, w3, m1);
    swapBits32<2>(w0, w2, m2);
    swapBits32<2>(w1, w3, m2);
    swapBits32<4>(w2, w3, m4);
    swapBits32<4>(w0, w1, m4);
    putInterleaved32<kPut>(upper + 2 * i, w3, w1);
    putInterleaved32<kPut>(lower + 2 * i, w2, w0);
  }
  return i;
}
#undef AVX2_STEP
#endif

}  // namespace

namespace {

// The steps over whole words of every path up to the given one, from plane byte 0; answers
// where they stopped. An absent plane reads as zeros, so that the steps load every plane alike.
template <Put kPut>
int mergeWordsOn(WidePath path, const std::uint8_t* const (&planeLines)[kMaxPlanes], int count,
                 std::uint8_t* rowPair) {
  std::uint8_t* lower = rowPair;
  std::uint8_t* upper = rowPair + kRowBytes;
  static constexpr std::uint8_t kNoPlane[kPlaneLineBytes] = {};
  const std::uint8_t* line[kMaxPlanes];
  for (int p = 0; p < kMaxPlanes; ++p) line[p] = planeLines[p] ? planeLines[p] : kNoPlane;
  int i = 0;
#if defined(WIDE_PATHS_AVX2)
  if (path == WidePath::Avx2) i = mergeWords32<kPut>(line, i, count, upper, lower);
#endif
#if defined(WIDE_PATHS_SSE2)
  if (path >= WidePath::Sse2) i = mergeWords16<kPut>(line, i, count, upper, lower);
#else
  static_cast<void>(path);
#endif
  return mergeWords4<kPut>(line, i, count, upper, lower);
}

}  // namespace

void mergeLinePair(const std::uint8_t* const (&planeLines)[kMaxPlanes], int count,
                   std::uint8_t* rowPair) {
  mergeLinePairOn(widePath(), planeLines, count, rowPair);
}

void mergeLinePairOn(WidePath path, const std::uint8_t* const (&planeLines)[kMaxPlanes], int count,
                     std::uint8_t* rowPair) {
  const int i = mergeWordsOn<Put::Or>(path, planeLines, count, rowPair);
  // The last count % 4 plane bytes, plane by plane.
  for (int p = 0; p < kMaxPlanes; ++p) {
    if (planeLines[p]) mergePlaneBytes(p, count - i, planeLines[p] + i, rowPair + 2 * i);
  }
}

void writeLinePair(const std::uint8_t* const (&planeLines)[kMaxPlanes], std::uint8_t* rowPair) {
  writeLinePairOn(widePath(), planeLines, rowPair);
}

void writeLinePairOn(WidePath path, const std::uint8_t* const (&planeLines)[kMaxPlanes],
                     std::uint8_t* rowPair) {
  // Every path's words divide a whole line: nothing is left to the plane-by-plane steps.
  static_assert(kPlaneLineBytes % 32 == 0);
  mergeWordsOn<Put::Store>(path, planeLines, kPlaneLineBytes, rowPair);
}

LoaderResult ImageLoader::buildBitmapInfoFrom(const Palette& palette) {
  infoHandle = GlobalAlloc(GMEM_MOVEABLE, kInfoBlockSize);
  if (!infoHandle) return LoaderResult::NoMemory;
  auto* block = static_cast<std::uint8_t*>(GlobalLock(infoHandle));
  if (!block) return LoaderResult::LockFailed;
  writeLe32(block + 0, kInfoHeaderSize);  // biSize
  writeLe32(block + 4, static_cast<std::uint32_t>(width));
  writeLe32(block + 8, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  writeLe16(block + 12, 1);                                  // biPlanes
  writeLe16(block + 14, kColorDepth);                        // biBitCount
  writeLe32(block + 16, 0);                                  // biCompression: BI_RGB
  writeLe32(block + 20, 0);                                  // biSizeImage
  writeLe32(block + 24, kDensity);                           // biXPelsPerMeter
  writeLe32(block + 28, kDensity);                           // biYPelsPerMeter
  writeLe32(block + 32, 0);  // biClrUsed: 0, so all 16 entries of a 4-bit table count
  writeLe32(block + 36, 0);  // biClrImportant
  std::memcpy(block + kInfoHeaderSize, palette.data(), sizeof(Palette));
  GlobalUnlock(infoHandle);
  return LoaderResult::Ok;
}

void ImageLoader::fillCommonPictureInfo(PictureInfoRecord* info) const {
  info->left = 0;
  info->top = 0;
  info->width = width;
  info->height = height;
  info->horizontalDensity = kDensity;
  info->verticalDensity = kDensity;
  info->colorDepth = kColorDepth;
}

LoaderResult ImageLoader::preparePixelBlock(std::uint8_t*& pixels, bool zeroFill) {
  const std::size_t size = static_cast<std::size_t>(height) * static_cast<std::size_t>(rowBytes);
  pixelHandle = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!pixelHandle) return LoaderResult::NoMemory;
  pixels = static_cast<std::uint8_t*>(GlobalLock(pixelHandle));
  if (!pixels) return LoaderResult::LockFailed;
  if (zeroFill) std::memset(pixels, 0, size);
  return LoaderResult::Ok;
}
