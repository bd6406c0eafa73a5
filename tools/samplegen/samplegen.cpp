// SPDX-License-Identifier: MIT
// samplegen: draws the bundled sample pictures and stores them with the project's writers.
//
//   samplegen DIR
//
// writes into DIR:
//   card.gra, card.rgb, card.e1   a 16-colour test card with its palette and fourth plane
//   plain.gra                     8 colours, default palette, no companion files
//   window.gra, window.e1         only a window of the picture coded (window layout)
//   gradient.q                    a dithered 16-colour gradient with shapes and a comment
//   eight.q                       an 8-colour picture in the fixed colours, with a comment
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "gra/writer/gra_writer.h"
#include "host/files.h"
#include "host/picture.h"
#include "host/reasons.h"
#include "q/writer/q_writer.h"

namespace {

// A canvas of colour indices.
struct Canvas {
  std::array<std::uint8_t, kPictureWidth * kPictureHeight>& pixels;

  void set(int x, int y, int c) {
    if (x >= 0 && x < kPictureWidth && y >= 0 && y < kPictureHeight)
      pixels[static_cast<std::size_t>(y) * kPictureWidth + x] = static_cast<std::uint8_t>(c);
  }
  void rect(int x0, int y0, int x1, int y1, int c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) set(x, y, c);
  }
  void disc(int cx, int cy, int r, int c) {
    for (int y = cy - r; y <= cy + r; ++y)
      for (int x = cx - r; x <= cx + r; ++x)
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) set(x, y, c);
  }
  void ring(int cx, int cy, int r, int width, int c) {
    for (int y = cy - r; y <= cy + r; ++y)
      for (int x = cx - r; x <= cx + r; ++x) {
        int d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d <= r * r && d >= (r - width) * (r - width)) set(x, y, c);
      }
  }
  void triangle(int x0, int y0, int x1, int y1, int x2, int y2, int c) {
    auto edge = [](int ax, int ay, int bx, int by, int px, int py) {
      return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
    };
    for (int y = std::min({y0, y1, y2}); y <= std::max({y0, y1, y2}); ++y)
      for (int x = std::min({x0, x1, x2}); x <= std::max({x0, x1, x2}); ++x) {
        int a = edge(x0, y0, x1, y1, x, y), b = edge(x1, y1, x2, y2, x, y),
            d = edge(x2, y2, x0, y0, x, y);
        if ((a >= 0 && b >= 0 && d >= 0) || (a <= 0 && b <= 0 && d <= 0)) set(x, y, c);
      }
  }
};

// 4 x 4 ordered dither thresholds, 0 to 15.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// A test card: 16 colour bars, a grid, a circle and corner marks.
void drawCard(Canvas canvas) {
  for (int i = 0; i < 16; ++i) canvas.rect(i * 40, 0, i * 40 + 40, 120, i);
  canvas.rect(0, 120, 640, 400, 1);
  for (int x = 0; x < 640; x += 40) canvas.rect(x, 120, x + 1, 400, 7);
  for (int y = 120; y < 400; y += 40) canvas.rect(0, y, 640, y + 1, 7);
  canvas.disc(320, 260, 110, 0);
  canvas.ring(320, 260, 110, 4, 15);
  for (int i = 0; i < 8; ++i) canvas.rect(240 + i * 20, 230, 260 + i * 20, 290, 8 + i);
  canvas.triangle(20, 390, 80, 390, 20, 330, 14);
  canvas.triangle(620, 390, 560, 390, 620, 330, 14);
}

// A diagonal gradient over a 16-step ramp, ordered-dithered, with shapes on top.
void drawGradient(Canvas canvas) {
  for (int y = 0; y < kPictureHeight; ++y)
    for (int x = 0; x < kPictureWidth; ++x) {
      int level = (x * 14 * 16) / kPictureWidth + (y * 2 * 16) / kPictureHeight;  // 0 to 255
      int step = level / 16, fraction = level % 16;
      int c = std::min(13, step + (fraction > kBayer[y % 4][x % 4] ? 1 : 0));
      canvas.set(x, y, c);
    }
  canvas.disc(160, 200, 90, 14);
  canvas.ring(160, 200, 90, 6, 15);
  canvas.triangle(330, 330, 610, 330, 470, 70, 15);
  canvas.triangle(370, 310, 570, 310, 470, 130, 14);
}

std::array<Color4, 16> gradientColors() {
  std::array<Color4, 16> colors{};
  for (int i = 0; i < 14; ++i)  // deep blue to warm white
    colors[i] = {static_cast<std::uint8_t>(i + 1 > 15 ? 15 : i + 1),
                 static_cast<std::uint8_t>(i * 15 / 13), static_cast<std::uint8_t>(15 - i / 2)};
  colors[14] = {15, 4, 0};
  colors[15] = {15, 15, 15};
  return colors;
}

// Bands and shapes in the 8 fixed colours.
void drawEight(Canvas canvas) {
  for (int y = 0; y < kPictureHeight; ++y) canvas.rect(0, y, 640, y + 1, (y / 50) % 8);
  canvas.disc(200, 200, 120, 7);
  canvas.disc(200, 200, 80, 2);
  canvas.rect(360, 80, 600, 320, 0);
  canvas.triangle(380, 300, 580, 300, 480, 100, 6);
}

bool save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  if (host::Result r = host::writeFileAtomically(path, bytes, true); !r) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), r.reason.c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  return true;
}

// Reads a written sample back as a host does, with its companions beside it, and compares its
// colour indices with the drawing (masked to the planes the sample stores).
bool check(const host::PluginSet& plugins, const std::string& path,
           const std::array<std::uint8_t, kPictureWidth * kPictureHeight>& drawn,
           std::uint8_t mask) {
  host::PictureFile file{path, {}};
  std::string error = host::readFile(path, file.bytes).reason;
  const host::Plugin* plugin = plugins.recognise(path, file.bytes);
  if (error.empty() && !plugin) error = host::whyNotRecognised(plugins, path, file.bytes);
  host::Picture picture;
  if (error.empty()) {
    if (host::Result r = host::decode(*plugin, file, picture); !r) error = r.reason;
  }
  if (error.empty()) {
    for (std::size_t i = 0; i < drawn.size() && error.empty(); ++i) {
      if (picture.indices[i] != (drawn[i] & mask)) {
        error = "reads back differently at pixel " + std::to_string(i % kPictureWidth) + ", " +
                std::to_string(i / kPictureWidth);
      }
    }
  }
  if (!error.empty()) std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
  return error.empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: samplegen DIR\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  bool ok = true;

  GraPicture card;
  drawCard(Canvas{card.pixels});
  for (int i = 0; i < 16; ++i) {  // a palette of its own: a hue wheel and greys
    static const Color4 wheel[16] = {{0, 0, 0},  {0, 3, 9},   {15, 0, 0},  {15, 0, 15},
                                     {0, 15, 0}, {0, 15, 15}, {15, 15, 0}, {15, 15, 15},
                                     {15, 8, 0}, {8, 15, 0},  {0, 15, 8},  {0, 8, 15},
                                     {8, 0, 15}, {15, 0, 8},  {9, 9, 9},   {5, 5, 5}};
    card.colors[i] = wheel[i];
  }
  GraFiles cardFiles = writeGra(card);
  ok &= save(dir + "card.gra", cardFiles.picture) && save(dir + "card.rgb", cardFiles.palette) &&
        save(dir + "card.e1", cardFiles.fourthPlane);

  GraPicture plain;
  drawEight(Canvas{plain.pixels});
  GraWriteOptions plainOptions;
  plainOptions.writePalette = false;
  plainOptions.writeFourthPlane = false;
  ok &= save(dir + "plain.gra", writeGra(plain, plainOptions).picture);

  GraPicture window;
  drawCard(Canvas{window.pixels});
  GraWriteOptions windowOptions;
  windowOptions.writePalette = false;
  windowOptions.window = GraWindow{10, 70, 40, 160};
  GraFiles windowFiles = writeGra(window, windowOptions);
  ok &= save(dir + "window.gra", windowFiles.picture) &&
        save(dir + "window.e1", windowFiles.fourthPlane);

  QPicture gradient;
  drawGradient(Canvas{gradient.pixels});
  gradient.palette = gradientColors();
  gradient.comment = "Dithered gradient with shapes";
  ok &= save(dir + "gradient.q", writeQ(gradient).picture);

  QPicture eight;
  drawEight(Canvas{eight.pixels});
  eight.eightColors = true;
  eight.comment = "Eight fixed colours";
  ok &= save(dir + "eight.q", writeQ(eight).picture);

  host::PluginSet plugins;
  ok = ok && check(plugins, dir + "card.gra", card.pixels, 0x0F) &&
       check(plugins, dir + "plain.gra", plain.pixels, 0x07) &&
       check(plugins, dir + "gradient.q", gradient.pixels, 0x0F) &&
       check(plugins, dir + "eight.q", eight.pixels, 0x07);
  return ok ? 0 : 1;
}
