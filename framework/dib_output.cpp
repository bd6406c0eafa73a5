// SPDX-License-Identifier: MIT
// DIB output: the information block, the common picture-information fields, the pixel block
// and the plane writer.
#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "framework/image_loader.h"
#include "framework/little_endian.h"

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

// mergeLinePair works on a word of plane bytes of every plane at once: 16 bytes in an SSE2
// register where the compiler offers one, else a 32-bit integer. Words are loaded and stored
// with memcpy in the byte order of the machine, which is little-endian on every target.
#if defined(__SSE2__)
using PlaneWord = std::uint32_t __attribute__((vector_size(16)));
#else
using PlaneWord = std::uint32_t;
#endif
constexpr int kWordBytes = sizeof(PlaneWord);
static_assert(std::endian::native == std::endian::little);

PlaneWord loadWord(const std::uint8_t* at) {
  PlaneWord word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

void orWord(std::uint8_t* at, PlaneWord bits) {
  PlaneWord word = loadWord(at);
  word |= bits;
  std::memcpy(at, &word, sizeof word);
}

// The same 8-bit mask in every byte of a word.
PlaneWord everyByte(std::uint32_t mask) {
  return PlaneWord{} + mask * 0x01010101u;
}

// Exchanges, in every byte, the bits of low that mask selects with the bits of high that lie
// shift places above them. Bits moved across a byte edge by the shift fall outside mask.
void swapBits(PlaneWord& high, PlaneWord& low, int shift, PlaneWord mask) {
  PlaneWord t = ((high >> shift) ^ low) & mask;
  low ^= t;
  high ^= t << shift;
}

// ORs the bytes of first and second into 2 x kWordBytes bytes at out, alternately: first[0],
// second[0], first[1], second[1], ...
void orInterleaved(std::uint8_t* out, PlaneWord first, PlaneWord second) {
#if defined(__SSE2__)
  const auto a = reinterpret_cast<__m128i>(first);
  const auto b = reinterpret_cast<__m128i>(second);
  orWord(out, reinterpret_cast<PlaneWord>(_mm_unpacklo_epi8(a, b)));
  orWord(out + kWordBytes, reinterpret_cast<PlaneWord>(_mm_unpackhi_epi8(a, b)));
#else
  auto spread = [](std::uint32_t x) { return (x & 0xFF) | (x & 0xFF00) << 8; };  // x0 0 x1 0
  orWord(out, spread(first & 0xFFFF) | spread(second & 0xFFFF) << 8);
  orWord(out + kWordBytes, spread(first >> 16) | spread(second >> 16) << 8);
#endif
}

#if defined(__x86_64__)
// The same transpose over 32 plane bytes at a time in AVX2 registers, for processors that have
// them (chosen at run time; the build itself assumes only SSE2).
#define AVX2_STEP __attribute__((target("avx2"), always_inline)) inline

AVX2_STEP __m256i load32(const std::uint8_t* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

AVX2_STEP void orInto32(std::uint8_t* at, __m256i bits) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm256_or_si256(load32(at), bits));
}

// swapBits for 32 bytes.
template <int kShift>
AVX2_STEP void swapBits32(__m256i& high, __m256i& low, __m256i mask) {
  const __m256i t = _mm256_and_si256(_mm256_xor_si256(_mm256_srli_epi32(high, kShift), low), mask);
  low = _mm256_xor_si256(low, t);
  high = _mm256_xor_si256(high, _mm256_slli_epi32(t, kShift));
}

// orInterleaved for 32 bytes: the byte unpacks work within each 128-bit half, so the halves of
// their results are put back in order.
AVX2_STEP void orInterleaved32(std::uint8_t* out, __m256i first, __m256i second) {
  const __m256i low = _mm256_unpacklo_epi8(first, second);
  const __m256i high = _mm256_unpackhi_epi8(first, second);
  orInto32(out, _mm256_permute2x128_si256(low, high, 0x20));
  orInto32(out + 32, _mm256_permute2x128_si256(low, high, 0x31));
}

// Returns where it stopped: the plane bytes from there on are left to the narrower loops.
__attribute__((target("avx2"))) int mergeWords32(const std::uint8_t* const (&line)[kMaxPlanes],
                                                 int count, std::uint8_t* upper,
                                                 std::uint8_t* lower) {
  const __m256i m1 = _mm256_set1_epi8(0x55);
  const __m256i m2 = _mm256_set1_epi8(0x33);
  const __m256i m4 = _mm256_set1_epi8(0x0F);
  int i = 0;
  for (; i + 32 <= count; i += 32) {
    __m256i w0 = load32(line[0] + i), w1 = load32(line[1] + i);
    __m256i w2 = load32(line[2] + i), w3 = load32(line[3] + i);
    swapBits32<1>(w0, w1, m1);
    swapBits32<1>(w2, w3, m1);
    swapBits32<2>(w0, w2, m2);
    swapBits32<2>(w1, w3, m2);
    swapBits32<4>(w2, w3, m4);
    swapBits32<4>(w0, w1, m4);
    orInterleaved32(upper + 2 * i, w3, w1);
    orInterleaved32(lower + 2 * i, w2, w0);
  }
  return i;
}
#undef AVX2_STEP

bool hasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

MergeWidth mergeWidth = MergeWidth::Widest;

void mergeLinePair(const std::uint8_t* const (&planeLines)[kMaxPlanes], int count,
                   std::uint8_t* rowPair) {
  std::uint8_t* lower = rowPair;
  std::uint8_t* upper = rowPair + kRowBytes;
  // An absent plane reads as zeros, so that the loop below loads every plane alike.
  static constexpr std::uint8_t kNoPlane[kPlaneLineBytes] = {};
  const std::uint8_t* line[kMaxPlanes];
  for (int p = 0; p < kMaxPlanes; ++p) line[p] = planeLines[p] ? planeLines[p] : kNoPlane;
  int i = 0;
#if defined(__x86_64__)
  if (mergeWidth == MergeWidth::Widest && hasAvx2()) i = mergeWords32(line, count, upper, lower);
#endif
  // A bit transpose over kWordBytes plane bytes (4-pixel groups) of all planes at once. The
  // byte of plane p holds bit p of the 8 pixels of a group (4 upper, 4 lower); the block wants
  // the 4 bits of each pixel side by side. Pixel k of a group is bit 7 - k (upper line) and
  // 3 - k (lower line) of a plane byte.
  for (; i + kWordBytes <= count; i += kWordBytes) {
    PlaneWord w[kMaxPlanes] = {loadWord(line[0] + i), loadWord(line[1] + i), loadWord(line[2] + i),
                               loadWord(line[3] + i)};
    // Planes 0 and 1, 2 and 3 trade alternate bits: w[0] and w[2] then hold pixels 1 and 3,
    // w[1] and w[3] pixels 0 and 2, as 2-bit values (the lower plane in the lower bit).
    swapBits(w[0], w[1], 1, everyByte(0x55));
    swapBits(w[2], w[3], 1, everyByte(0x55));
    // They trade bit pairs: w[g] holds pixel 3 - g as 4-bit values, upper line in the high
    // nibble, lower line in the low nibble.
    swapBits(w[0], w[2], 2, everyByte(0x33));
    swapBits(w[1], w[3], 2, everyByte(0x33));
    // They trade nibbles: w[3] and w[2] become the first block byte of each group (pixels 0
    // and 1) of the upper and the lower line, w[1] and w[0] the second (pixels 2 and 3).
    swapBits(w[2], w[3], 4, everyByte(0x0F));
    swapBits(w[0], w[1], 4, everyByte(0x0F));
    orInterleaved(upper + 2 * i, w[3], w[1]);
    orInterleaved(lower + 2 * i, w[2], w[0]);
  }
  // The last count % kWordBytes plane bytes, plane by plane.
  for (int p = 0; p < kMaxPlanes; ++p) {
    if (planeLines[p]) mergePlaneBytes(p, count - i, planeLines[p] + i, rowPair + 2 * i);
  }
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

LoaderResult ImageLoader::preparePixelBlock(std::uint8_t*& pixels) {
  const std::size_t size = static_cast<std::size_t>(height) * static_cast<std::size_t>(rowBytes);
  pixelHandle = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!pixelHandle) return LoaderResult::NoMemory;
  pixels = static_cast<std::uint8_t*>(GlobalLock(pixelHandle));
  if (!pixels) return LoaderResult::LockFailed;
  std::memset(pixels, 0, size);
  return LoaderResult::Ok;
}
