// SPDX-License-Identifier: MIT
// writer_pictures FOLDER: pictures made with the writers, for the web tests to decode both as
// WebAssembly and with the native planeconv. Fixed seeds: the same files every run.
//
//   busy.gra  .rgb .e1   16 colours of its own, with both companion files
//   window.gra           window layout, no companions (default colours, 8 of them)
//   busy16.q             16 colours, a comment of printable text
//   busy8.q              8 colours, a comment with bytes above 127
//   noise.q              16 colours of noise, no comment
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "gra/writer/gra_writer.h"
#include "host/files.h"
#include "q/writer/q_writer.h"

namespace {

using Pixels = std::array<std::uint8_t, kPictureWidth * kPictureHeight>;

// Diagonal bands over all colours with one pixel in eight random: busy, with some runs left.
void drawBusy(Pixels& pixels, int colours, unsigned seed) {
  std::mt19937 random(seed);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      int value = ((x + 3 * y) / 24) % colours;
      if (random() % 8 == 0) value = static_cast<int>(random() % static_cast<unsigned>(colours));
      pixels[static_cast<std::size_t>(y) * kPictureWidth + x] = static_cast<std::uint8_t>(value);
    }
  }
}

bool save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (host::Result r = host::writeFileAtomically(path, bytes, true); !r) {
    std::fprintf(stderr, "writer_pictures: %s: %s\n", path.c_str(), r.reason.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: writer_pictures FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::mt19937 random(14);
  const auto component = [&] { return static_cast<std::uint8_t>(random() % 16); };
  bool ok = true;

  GraPicture gra;
  drawBusy(gra.pixels, 16, 1);
  for (Color4& c : gra.colors) c = Color4{component(), component(), component()};
  const GraFiles busy = writeGra(gra);
  ok &= save(folder + "/busy.gra", busy.picture) && save(folder + "/busy.rgb", busy.palette) &&
        save(folder + "/busy.e1", busy.fourthPlane);

  GraWriteOptions windowed;
  windowed.window = GraWindow{10, 70, 20, 180};
  windowed.writePalette = windowed.writeFourthPlane = false;
  ok &= save(folder + "/window.gra", writeGra(gra, windowed).picture);

  QPicture q16;
  drawBusy(q16.pixels, 16, 2);
  for (Color4& c : q16.palette) c = Color4{component(), component(), component()};
  q16.comment = "Busy bands, 16 colours";
  ok &= save(folder + "/busy16.q", writeQ(q16).picture);

  QPicture q8;
  q8.eightColors = true;
  drawBusy(q8.pixels, 8, 3);
  q8.comment = "Eight \xA4\xB3\xA4\xF3 \xE9t\xE9";
  ok &= save(folder + "/busy8.q", writeQ(q8).picture);

  QPicture noise;
  std::mt19937 pixels(4);
  for (auto& p : noise.pixels) p = static_cast<std::uint8_t>(pixels() % 16);
  for (Color4& c : noise.palette) c = Color4{component(), component(), component()};
  ok &= save(folder + "/noise.q", writeQ(noise).picture);
  return ok ? 0 : 1;
}
