#include "tests/pixbuf/png_reference.h"

#include "tools/planeconv/image_files.h"

std::string readReferencePng(const std::string& path, ReferenceImage& image) {
  RgbaImage png;
  std::string error = readPng(path, png);
  image = {png.width, png.height, std::move(png.rgba)};
  return error;
}
