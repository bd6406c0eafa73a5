// SPDX-License-Identifier: MIT
// What the picture writers (gra/writer, q/writer) share: the 4-bit colour of a picture's own
// colours, and the one error both throw.
#pragma once

#include <compare>
#include <cstdint>
#include <stdexcept>

// A colour as both formats store a picture's own colours: red, green and blue from 0 to 15 each.
// A reader shows component v as the 8-bit v x 17.
struct Color4 {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  auto operator<=>(const Color4&) const = default;
};

// Thrown by writeGra and writeQ for everything they cannot write: options out of range, a
// pixel value or colour component the picture cannot hold, or data that does not fit the
// format's limits with the options given. what() says which.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
