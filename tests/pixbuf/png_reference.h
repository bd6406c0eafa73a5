// SPDX-License-Identifier: MIT
// The PNGs planeconv writes, read back with libpng: the pictures the modules must match. Kept
// apart from the tests' own source, which includes glib (glib and the platform layer under
// planeconv both claim the names TRUE and FALSE).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReferenceImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // rows top first
};

// Answers an error message, empty on success.
std::string readReferencePng(const std::string& path, ReferenceImage& image);
