// DIB output: the information block, the common picture-information fields, the pixel block
// and the plane writer.
#include <array>
#include <cstring>

#include "framework/image_loader.h"

namespace {

void put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::uint8_t* at, std::uint32_t value) {
  put16(at, static_cast<std::uint16_t>(value));
  put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

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

LoaderResult ImageLoader::buildBitmapInfoFrom(const Palette& palette) {
  infoHandle = GlobalAlloc(GMEM_MOVEABLE, kInfoBlockSize);
  if (!infoHandle) return LoaderResult::NoMemory;
  auto* block = static_cast<std::uint8_t*>(GlobalLock(infoHandle));
  if (!block) return LoaderResult::LockFailed;
  put32(block + 0, kInfoHeaderSize);  // biSize
  put32(block + 4, static_cast<std::uint32_t>(width));
  put32(block + 8, static_cast<std::uint32_t>(height));  // positive: bottom-up rows
  put16(block + 12, 1);                                  // biPlanes
  put16(block + 14, kColorDepth);                        // biBitCount
  put32(block + 16, 0);                                  // biCompression: BI_RGB
  put32(block + 20, 0);                                  // biSizeImage
  put32(block + 24, kDensity);                           // biXPelsPerMeter
  put32(block + 28, kDensity);                           // biYPelsPerMeter
  put32(block + 32, 0);  // biClrUsed: 0, so all 16 entries of a 4-bit table count
  put32(block + 36, 0);  // biClrImportant
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
