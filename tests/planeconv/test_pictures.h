// SPDX-License-Identifier: MIT
// Pictures for the planeconv tests: busy GRA and Q pictures of the test-picture library, and
// PNGs of every kind written with libpng.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/pictures.h"
#include "tests/support/test_support.h"

// Busy GRA and Q pictures of the test-picture library, as files.
inline Bytes qPicture(int colors, unsigned seed, const std::string& comment = "") {
  return writeQ(pictures::qPicture(pictures::Scene::Busy, seed, colors, comment)).picture;
}

inline GraFiles graPicture(unsigned seed, bool fourthPlane = true) {
  GraWriteOptions options;
  options.writeFourthPlane = fourthPlane;
  return writeGra(pictures::graPicture(pictures::Scene::Busy, seed, fourthPlane ? 16 : 8), options);
}

// A PNG as libpng writes it: rows of packed samples as the colour type and depth lay them out.
struct PngKind {
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<png_color> palette;      // palette PNGs
  std::vector<png_byte> paletteAlpha;  // a tRNS chunk for a palette PNG
  bool transparentColor = false;       // a tRNS chunk for grey or RGB, of the colour below
  png_color_16 transparent{};
  bool colourChunks = false;  // gAMA, sRGB, cHRM and iCCP chunks that a viewer would apply
};

inline PngKind pngKind(int colorType, int bitDepth) {
  PngKind kind;
  kind.colorType = colorType;
  kind.bitDepth = bitDepth;
  return kind;
}

inline Bytes writePng(const PngKind& kind, int width, int height,
                      const std::vector<std::vector<std::uint8_t>>& rows) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write the test PNG";
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        auto* bytes = static_cast<Bytes*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), data, data + length);
      },
      [](png_structp) {});
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
               kind.bitDepth, kind.colorType,
               kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!kind.palette.empty())
    png_set_PLTE(png, info, kind.palette.data(), static_cast<int>(kind.palette.size()));
  if (!kind.paletteAlpha.empty())
    png_set_tRNS(png, info, kind.paletteAlpha.data(), static_cast<int>(kind.paletteAlpha.size()),
                 nullptr);
  if (kind.transparentColor) {
    png_color_16 transparent = kind.transparent;
    png_set_tRNS(png, info, nullptr, 0, &transparent);
  }
  if (kind.colourChunks) {
    png_set_gAMA(png, info, 1.0);  // linear: a viewer would brighten every mid tone
    png_set_cHRM(png, info, 0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06);
  }
  png_write_info_before_PLTE(png, info);
  if (kind.colourChunks) {
    // A profile no reader could apply: its values must not matter.
    png_byte iccp[] = "odd profile\0\0\x78\x9c\x03\x00\x00\x00\x00\x01";
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("iCCP"), iccp, sizeof iccp - 1);
    png_byte srgb = 0;
    png_write_chunk(png, reinterpret_cast<png_const_bytep>("sRGB"), &srgb, 1);
  }
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (const auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}
