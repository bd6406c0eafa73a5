// SPDX-License-Identifier: MIT
#include "host/image_files.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "framework/little_endian.h"
#include "host/file_names.h"
#include "host/png_writer.h"

namespace host {

namespace {

// libpng reports through longjmp; its own printing is not wanted, the callers say what failed.
void quietError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void quietWarning(png_structp, png_const_charp) {}

}  // namespace

Result encodePng(const Picture& picture, std::vector<std::uint8_t>& out) {
  PngImage image;
  image.width = picture.width();
  image.height = picture.height();
  image.bitDepth = 4;
  image.colorType = PngColorType::Palette;
  image.palette = picture.palette;
  image.source = &picture;
  image.row = [](const void* source, int y) {
    return static_cast<const Picture*>(source)->packedRow(y);
  };
  return writePng(image, out);
}

Result encodeRgbPng(const RgbImage& image, const std::vector<PngText>& texts,
                    std::vector<std::uint8_t>& out) {
  if (image.width <= 0 || image.height <= 0 ||
      image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    return {LoaderResult::BadData, "the image has no pixels or not as many as its size says"};
  }
  PngImage png;
  png.width = image.width;
  png.height = image.height;
  png.texts = texts;
  png.source = &image;
  png.row = [](const void* source, int y) {
    const auto* rgb = static_cast<const RgbImage*>(source);
    return rgb->rgb.data() + static_cast<std::size_t>(y) * rgb->width * 3;
  };
  return writePng(png, out);
}

std::vector<std::uint8_t> encodeBmp(const Picture& picture) {
  // The 14-byte file header, then the bitmap as it was handed over.
  constexpr std::size_t kFileHeaderSize = 14;
  const std::size_t offset = kFileHeaderSize + picture.infoBlock.size();
  std::vector<std::uint8_t> file(offset + picture.pixelBlock.size());
  file[0] = 'B';
  file[1] = 'M';
  writeLe32(file.data() + 2, static_cast<std::uint32_t>(file.size()));
  writeLe32(file.data() + 6, 0);
  writeLe32(file.data() + 10, static_cast<std::uint32_t>(offset));
  std::copy(picture.infoBlock.begin(), picture.infoBlock.end(), file.begin() + kFileHeaderSize);
  std::copy(picture.pixelBlock.begin(), picture.pixelBlock.end(),
            file.begin() + static_cast<std::ptrdiff_t>(offset));
  return file;
}

namespace {

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::FILE* file = nullptr;
  ~PngReader() {
    png_destroy_read_struct(&png, &info, nullptr);
    if (file) std::fclose(file);
  }
};

}  // namespace

Result readPng(const std::string& path, RgbaImage& image, std::size_t maxPixels) {
  image = RgbaImage{};
  PngReader reader;
  // A folder opens as a file on some systems, and then reads as no PNG at all.
  std::error_code kindError;
  if (std::filesystem::is_directory(pathOf(path), kindError))
    return {LoaderResult::OpenFailed, "is a folder"};
#ifdef _WIN32
  reader.file = _wfopen(wideName(path).c_str(), L"rb");
#else
  reader.file = std::fopen(path.c_str(), "rb");
#endif
  if (!reader.file)
    return {LoaderResult::OpenFailed, std::string("cannot open (") + std::strerror(errno) + ")"};
  std::uint8_t signature[8] = {};
  if (std::fread(signature, 1, sizeof signature, reader.file) != sizeof signature ||
      png_sig_cmp(signature, 0, sizeof signature) != 0)
    return {LoaderResult::BadData, "not a readable PNG (no PNG signature)"};
  reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
  if (!reader.png) return {LoaderResult::NoMemory, "cannot start the PNG decoder"};
  reader.info = png_create_info_struct(reader.png);
  if (!reader.info) return {LoaderResult::NoMemory, "cannot start the PNG decoder"};
  // Rows are read into these, which must outlive a longjmp out of libpng.
  std::vector<png_bytep> rows;
  std::vector<std::uint8_t> samples;
  if (setjmp(png_jmpbuf(reader.png)))
    return {LoaderResult::BadData, "the PNG cannot be decoded (damaged data)"};
  png_init_io(reader.png, reader.file);
  png_set_sig_bytes(reader.png, sizeof signature);
  png_read_info(reader.png, reader.info);
  png_structp png = reader.png;
  png_infop info = reader.info;
  image.width = static_cast<int>(png_get_image_width(png, info));
  image.height = static_cast<int>(png_get_image_height(png, info));
  const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
  if (pixels > maxPixels) {
    return {LoaderResult::BadData, "the picture is " + std::to_string(image.width) + " x " +
                                       std::to_string(image.height) + ", more than the " +
                                       std::to_string(maxPixels) + " pixels it may have"};
  }
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  png_set_interlace_handling(png);  // libpng puts the passes together
  int channels = 4;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_set_packing(png);  // one index a byte
    channels = 1;
  } else {
    if (bitDepth == 16) png_set_strip_16(png);  // the high byte of each sample
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA)
      png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
      png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<std::size_t>(image.width) * channels)
    return {LoaderResult::BadData, "the PNG cannot be decoded (unexpected row layout)"};
  samples.assign(pixels * channels, 0);
  rows.resize(static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y)
    rows[static_cast<std::size_t>(y)] =
        samples.data() + static_cast<std::size_t>(y) * image.width * channels;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);

  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp colors = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &colors, &count);
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    if (png_get_valid(png, info, PNG_INFO_tRNS))
      png_get_tRNS(png, info, &alpha, &alphaCount, nullptr);
    for (int i = 0; i < count; ++i) {
      RgbQuad entry = rgb(colors[i].red, colors[i].green, colors[i].blue);
      entry.reserved = i < alphaCount ? alpha[i] : 255;  // the entry's alpha, for the pixels below
      image.palette.push_back(entry);
    }
    image.indices = std::move(samples);
    image.rgba.resize(pixels * 4);
    for (std::size_t i = 0; i < pixels; ++i) {
      const std::uint8_t index = image.indices[i];
      if (index >= image.palette.size()) {
        return {LoaderResult::BadData, "pixel " + std::to_string(i % image.width) + ", " +
                                           std::to_string(i / image.width) + " has colour index " +
                                           std::to_string(index) + ", beyond the palette's " +
                                           std::to_string(image.palette.size()) + " entries"};
      }
      const RgbQuad& c = image.palette[index];
      std::uint8_t* out = &image.rgba[4 * i];
      out[0] = c.red;
      out[1] = c.green;
      out[2] = c.blue;
      out[3] = c.reserved;
    }
    for (RgbQuad& entry : image.palette) entry.reserved = 0;
  } else {
    image.rgba = std::move(samples);
  }
  for (std::size_t i = 3; i < image.rgba.size(); i += 4) {
    if (image.rgba[i] != 255) {
      image.opaque = false;
      break;
    }
  }
  return {};
}

Result readIndexedPng(const std::vector<std::uint8_t>& bytes, IndexedImage& image) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
  if (!png) return {LoaderResult::NoMemory, "cannot start the PNG decoder"};
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {LoaderResult::BadData, "not a readable PNG"};
  }
  PngMemorySource source{&bytes, 0};
  png_set_read_fn(png, &source, readPngFromMemory);
  png_read_info(png, info);
  if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {LoaderResult::BadData, "not a palette PNG"};
  }
  png_set_packing(png);  // one index per byte
  image.width = static_cast<int>(png_get_image_width(png, info));
  image.height = static_cast<int>(png_get_image_height(png, info));
  png_colorp colors = nullptr;
  int count = 0;
  png_get_PLTE(png, info, &colors, &count);
  image.palette.clear();
  for (int i = 0; i < count; ++i)
    image.palette.push_back(rgb(colors[i].red, colors[i].green, colors[i].blue));
  png_read_update_info(png, info);
  image.indices.assign(static_cast<std::size_t>(image.width) * image.height, 0);
  for (int y = 0; y < image.height; ++y)
    png_read_row(png, image.indices.data() + static_cast<std::size_t>(y) * image.width, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return {};
}

void readPngFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<PngMemorySource*>(png_get_io_ptr(png));
  if (source->position + length > source->bytes->size()) png_error(png, "PNG data ends early");
  std::memcpy(data, source->bytes->data() + source->position, length);
  source->position += length;
}

}  // namespace host
