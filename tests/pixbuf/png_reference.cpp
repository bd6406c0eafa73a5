// SPDX-License-Identifier: MIT
#include "tests/pixbuf/png_reference.h"

#include "host/image_files.h"

std::string readReferencePng(const std::string& path, ReferenceImage& image) {
  host::RgbaImage png;
  std::string error = host::readPng(path, png).reason;
  image = {png.width, png.height, std::move(png.rgba)};
  return error;
}
