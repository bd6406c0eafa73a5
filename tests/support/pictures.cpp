// SPDX-License-Identifier: MIT
#include "tests/support/pictures.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <random>

#include "framework/little_endian.h"

namespace pictures {
namespace {

// Drawing on colour indices; what falls outside the picture is dropped.
struct Canvas {
  Indices& pixels;

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
  template <class Value>
  void each(Value value) {
    for (int y = 0; y < kPictureHeight; ++y)
      for (int x = 0; x < kPictureWidth; ++x) set(x, y, value(x, y));
  }
};

// 4 x 4 ordered dither thresholds, 0 to 15.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

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

void drawGradient(Canvas canvas) {
  canvas.each([](int x, int y) {
    int level = (x * 14 * 16) / kPictureWidth + (y * 2 * 16) / kPictureHeight;  // 0 to 255
    int step = level / 16, fraction = level % 16;
    return std::min(13, step + (fraction > kBayer[y % 4][x % 4] ? 1 : 0));
  });
  canvas.disc(160, 200, 90, 14);
  canvas.ring(160, 200, 90, 6, 15);
  canvas.triangle(330, 330, 610, 330, 470, 70, 15);
  canvas.triangle(370, 310, 570, 310, 470, 130, 14);
}

void drawEight(Canvas canvas) {
  for (int y = 0; y < kPictureHeight; ++y) canvas.rect(0, y, 640, y + 1, (y / 50) % 8);
  canvas.disc(200, 200, 120, 7);
  canvas.disc(200, 200, 80, 2);
  canvas.rect(360, 80, 600, 320, 0);
  canvas.triangle(380, 300, 580, 300, 480, 100, 6);
}

void drawShapes(Canvas canvas, std::mt19937& random) {
  auto value = [&](int limit) { return static_cast<int>(random() % static_cast<unsigned>(limit)); };
  for (int n = 0; n < 12; ++n) {
    int x0 = value(600), y0 = value(360), w = 8 + value(200), h = 4 + value(150);
    canvas.rect(x0, y0, x0 + w, y0 + h, value(16));
  }
  for (int n = 0; n < 6; ++n) {
    int cx = value(640), cy = value(400), r = 10 + value(80), c = value(16);
    canvas.each([&](int x, int y) {
      bool inside = (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r;
      return inside ? c : canvas.pixels[static_cast<std::size_t>(y) * kPictureWidth + x];
    });
  }
  for (int n = 0; n < 300; ++n) {
    int x = value(640), y = value(400);  // in turn: argument order is unspecified
    canvas.set(x, y, value(16));
  }
}

// A hue wheel and greys.
constexpr Color4 kCardColours[kPaletteEntries] = {
    {0, 0, 0},   {0, 3, 9},    {15, 0, 0}, {15, 0, 15}, {0, 15, 0}, {0, 15, 15},
    {15, 15, 0}, {15, 15, 15}, {15, 8, 0}, {8, 15, 0},  {0, 15, 8}, {0, 8, 15},
    {8, 0, 15},  {15, 0, 8},   {9, 9, 9},  {5, 5, 5}};

Colours gradientColours() {  // deep blue to warm white
  Colours colours{};
  for (int i = 0; i < 14; ++i)
    colours[i] = {static_cast<std::uint8_t>(i + 1 > 15 ? 15 : i + 1),
                  static_cast<std::uint8_t>(i * 15 / 13), static_cast<std::uint8_t>(15 - i / 2)};
  colours[14] = {15, 4, 0};
  colours[15] = {15, 15, 15};
  return colours;
}

PictureFiles graFiles(std::string name, const GraPicture& picture, const GraWriteOptions& options,
                      std::uint8_t mask) {
  GraFiles files = writeGra(picture, options);
  PictureFiles out{std::move(name), std::move(files.picture), {}, {}, picture.pixels, mask};
  if (options.writePalette) out.palette = std::move(files.palette);
  if (options.writeFourthPlane) out.fourthPlane = std::move(files.fourthPlane);
  return out;
}

PictureFiles qFiles(std::string name, const QPicture& picture, const QWriteOptions& options = {}) {
  return {std::move(name), writeQ(picture, options).picture, {}, {}, picture.pixels, 0x0F};
}

}  // namespace

Indices draw(Scene scene, int colours, unsigned seed) {
  Indices pixels{};
  Canvas canvas{pixels};
  std::mt19937 random(seed);
  const auto colour = [&] { return static_cast<int>(random() % static_cast<unsigned>(colours)); };
  const int s = static_cast<int>(seed);
  switch (scene) {
    case Scene::Card:
      drawCard(canvas);
      break;
    case Scene::Gradient:
      drawGradient(canvas);
      break;
    case Scene::Eight:
      drawEight(canvas);
      break;
    case Scene::Busy:
      canvas.each([&](int x, int y) {
        int level = (x + 2 * y) * 16 * (colours - 1) / (kPictureWidth + 2 * kPictureHeight);
        int value = level / 16 + (level % 16 > kBayer[y % 4][x % 4] ? 1 : 0);
        return random() % 6 == 0 ? colour() : value;
      });
      break;
    case Scene::Noise:
      for (auto& p : pixels) p = static_cast<std::uint8_t>(colour());
      break;
    case Scene::Bands:
      canvas.each([&](int x, int y) {
        int band = (y / 8 + s) % 16;
        return (x / 40) % 3 == 0 ? band : (band + x / 40) % 16;
      });
      break;
    case Scene::Shapes:
      drawShapes(canvas, random);
      break;
    case Scene::Flicker:
      canvas.each([&](int x, int y) {
        bool inside = x >= 64 + s % 64 && x < 576 && y >= 40 && y < 360;
        return inside ? ((y / 2) % 2 ? 7 : 0) : ((x / 80) % 2 ? 15 : 8);
      });
      break;
    case Scene::Dither:
      canvas.each([&](int x, int y) {
        int band = (y / 50 + s) % 8;
        return (x + y) % 2 ? band : 15 - band;
      });
      break;
    case Scene::Mixed:
      canvas.each([&](int x, int y) {
        if (y < 40) return colours - 1;                       // every plane set
        if (y < 80) return (x / 40) % colours;                // wide steps: fill runs
        if (y < 160) return (x / 8 + (y / 2) % 3) % colours;  // repeats every 3 pairs
        if (y < 240) return colour();                         // noise
        if (y < 320) return x < 320 ? 0 : (x + y) % colours;  // zeros, a diagonal
        return ((x ^ y) >> 3) % colours;
      });
      break;
    case Scene::Sparse:
      canvas.each([&](int x, int y) {
        int v = 0;
        if (x >= 100 && x < 180 && y >= 50 && y < 90) v = colours - 1;
        if (y >= 200 && y < 204 && x < 64) v = colour();
        if (y == 300) v = (x / 8) % colours;
        return v;
      });
      break;
  }
  return pixels;
}

Colours randomColours(unsigned seed) {
  std::mt19937 random(seed);
  Colours colours{};
  for (Color4& c : colours) {
    c.red = static_cast<std::uint8_t>(random() % 16);
    c.green = static_cast<std::uint8_t>(random() % 16);
    c.blue = static_cast<std::uint8_t>(random() % 16);
  }
  return colours;
}

GraPicture graPicture(Scene scene, unsigned seed, int colours) {
  GraPicture picture;
  picture.pixels = draw(scene, colours, seed);
  picture.colors = randomColours(seed);
  return picture;
}

QPicture qPicture(Scene scene, unsigned seed, int colours, std::string comment) {
  QPicture picture;
  picture.pixels = draw(scene, colours, seed);
  picture.palette = randomColours(seed);
  picture.eightColors = colours == 8;
  picture.comment = std::move(comment);
  return picture;
}

bool PictureFiles::isGra() const {
  return name.ends_with(".gra");
}

std::vector<std::pair<std::string, Bytes>> PictureFiles::files() const {
  std::vector<std::pair<std::string, Bytes>> out{{name, picture}};
  const std::string stem = name.substr(0, name.rfind('.') + 1);
  if (palette) out.emplace_back(stem + "rgb", *palette);
  if (fourthPlane) out.emplace_back(stem + "e1", *fourthPlane);
  return out;
}

std::vector<PictureFiles> samples() {
  std::vector<PictureFiles> out;
  GraPicture card;
  card.pixels = draw(Scene::Card);
  std::copy(std::begin(kCardColours), std::end(kCardColours), card.colors.begin());
  out.push_back(graFiles("samples/card.gra", card, {}, 0x0F));

  GraPicture plain;
  plain.pixels = draw(Scene::Eight);
  GraWriteOptions plainOptions;
  plainOptions.writePalette = plainOptions.writeFourthPlane = false;
  out.push_back(graFiles("samples/plain.gra", plain, plainOptions, 0x07));

  GraPicture window;
  window.pixels = card.pixels;
  GraWriteOptions windowOptions;
  windowOptions.writePalette = false;
  windowOptions.window = GraWindow{10, 70, 40, 160};
  out.push_back(graFiles("samples/window.gra", window, windowOptions, 0));

  QPicture gradient;
  gradient.pixels = draw(Scene::Gradient);
  gradient.palette = gradientColours();
  gradient.comment = "Dithered gradient with shapes";
  out.push_back(qFiles("samples/gradient.q", gradient));

  QPicture eight;
  eight.pixels = plain.pixels;
  eight.eightColors = true;
  eight.comment = "Eight fixed colours";
  out.push_back(qFiles("samples/eight.q", eight));
  out.back().mask = 0x07;
  return out;
}

std::vector<std::pair<std::string, GraWriteOptions>> graPaths() {
  std::vector<std::pair<std::string, GraWriteOptions>> paths;
  paths.emplace_back("default", GraWriteOptions{});

  GraWriteOptions window;
  window.window = GraWindow{10, 70, 20, 180};
  window.writePalette = false;
  paths.emplace_back("window", window);

  GraWriteOptions blocks;
  blocks.headerBlocks = 3;
  blocks.plane1 = GraPlaneSource::Own;
  blocks.plane2 = GraPlaneSource::Plane1;
  blocks.varyFlagBits = true;
  paths.emplace_back("header-blocks", blocks);

  GraWriteOptions plain;
  plain.skipCodes = plain.invertRuns = plain.xorRuns = plain.repeatPairs = false;
  paths.emplace_back("plain-bytes", plain);

  GraWriteOptions equal;
  equal.escapes = GraEscapes{0x55, 0x55, 0xAA};
  paths.emplace_back("equal-escapes", equal);

  GraWriteOptions zero;
  zero.escapes = GraEscapes{0x00, 0x00, 0xFF};
  zero.repeatPairs = false;
  zero.varyFlagBits = true;
  paths.emplace_back("zero-escapes", zero);

  GraWriteOptions own;
  own.plane1 = GraPlaneSource::Own;
  own.plane2 = GraPlaneSource::Plane1;
  own.skipCodes = false;
  own.headerBlocks = 0;
  paths.emplace_back("own-planes", own);

  GraWriteOptions runs;
  runs.plane2 = GraPlaneSource::Plane0;
  runs.invertRuns = false;
  runs.escapes = GraEscapes{0x11, 0x22, 0x33};
  runs.writeFourthPlane = false;
  paths.emplace_back("xor-runs", runs);
  return paths;
}

std::vector<std::pair<std::string, QWriteOptions>> qPaths(int colours) {
  const int planes = colours == 8 ? 3 : 4;
  std::vector<std::pair<std::string, QWriteOptions>> paths;
  paths.emplace_back("default", QWriteOptions{});

  QWriteOptions own;
  own.reference = QWriteOptions::Reference::OwnSlot;
  own.literalMode = QWriteOptions::LiteralMode::Off;
  paths.emplace_back("own-slot", own);

  QWriteOptions scattered;
  scattered.reference = QWriteOptions::Reference::Scattered;
  scattered.literalMode = QWriteOptions::LiteralMode::On;
  paths.emplace_back("scattered-literal", scattered);

  // Frequent code bytes (escaped), overlong runs, partial and extra lines, empty chunks.
  QWriteOptions rough;
  rough.literalMode = QWriteOptions::LiteralMode::Alternate;
  rough.codes = QWriteOptions::Codes::MostUsed;
  rough.overrunLineEnds = true;
  rough.partialLineAtChunkEnds = true;
  rough.extraLines = 7;
  rough.linesPerChunk = std::array<int, qformat::kChunkCount>{
      0, 50 * planes, 0, 25 * planes, 12 * planes, 13 * planes, 0, 40 * planes, 60 * planes, 0};
  paths.emplace_back("rough", rough);

  QWriteOptions fixed;
  for (int k = 0; k < qformat::kChunkCount; ++k) {
    // Equal code bytes: which code wins decides what the writer may use.
    const qformat::EscapeRecord records[] = {{0, 0x00, 0x00, 0x13, 0x00},
                                             {1, 0x55, 0x55, 0x66, 0x77},
                                             {0, 0x20, 0x21, 0x22, 0x22},
                                             {1, 0x01, 0xFF, 0x00, 0x01}};
    fixed.fixedCodes[k] = records[k % 4];
  }
  paths.emplace_back("fixed-codes", fixed);
  return paths;
}

std::vector<PictureFiles> writerPictures() {
  std::vector<PictureFiles> out;
  // Each GRA path over a scene that gives it work, in turn.
  const Scene graScenes[] = {Scene::Busy, Scene::Shapes, Scene::Bands, Scene::Flicker,
                             Scene::Dither};
  int n = 0;
  for (const auto& [name, options] : graPaths()) {
    const GraPicture picture = graPicture(graScenes[n % 5], static_cast<unsigned>(n + 1));
    out.push_back(graFiles("writer/gra-" + name + ".gra", picture, options,
                           options.window             ? 0
                           : options.writeFourthPlane ? 0x0F
                                                      : 0x07));
    ++n;
  }
  GraWriteOptions noiseOptions;
  noiseOptions.writePalette = noiseOptions.writeFourthPlane = false;
  out.push_back(graFiles("writer/gra-noise.gra", graPicture(Scene::Noise, 4), noiseOptions, 0x07));

  for (int colours : {16, 8}) {
    const std::string prefix = "writer/q" + std::to_string(colours) + "-";
    n = 0;
    for (const auto& [name, options] : qPaths(colours)) {
      // Comments: printable text, none, and bytes above 127 (taken as they stand).
      const char* comments[] = {"Mixed scene, from the Q writer", "",
                                "Eight \xA4\xB3\xA4\xF3 \xE9t\xE9"};
      const QPicture picture =
          qPicture(Scene::Mixed, static_cast<unsigned>(colours + n), colours, comments[n % 3]);
      out.push_back(qFiles(prefix + name + ".q", picture, options));
      ++n;
    }
  }
  out.push_back(qFiles("writer/q16-busy.q", qPicture(Scene::Busy, 2, 16, "Busy, 16 colours")));
  out.push_back(qFiles("writer/q16-noise.q", qPicture(Scene::Noise, 4)));
  return out;
}

std::vector<PictureFiles> malformed() {
  std::vector<PictureFiles> out;
  const auto add = [&](const std::string& name, Bytes file) {
    out.push_back({"malformed/" + name, std::move(file), {}, {}, {}, 0});
  };
  const Bytes gra = writeGra(graPicture(Scene::Shapes, 3)).picture;
  const Bytes q = writeQ(qPicture(Scene::Mixed, 3, 16, "Cut short")).picture;

  add("gra-truncated.gra",
      Bytes(gra.begin(), gra.begin() + static_cast<std::ptrdiff_t>(gra.size() / 2)));
  add("gra-header-only.gra", Bytes(gra.begin(), gra.begin() + kGraHeaderBlockSize));
  Bytes signature = gra;
  signature[offsetof(GraHeader, signature)] ^= 0x20;
  add("gra-bad-signature.gra", signature);
  Bytes blocks = gra;
  blocks[offsetof(GraHeader, headerBlocks)] = kGraMaxHeaderBlocks;
  add("gra-header-blocks-beyond-end.gra", blocks);
  // Companions of the wrong sizes: passed over, so the picture shows 8 default colours.
  out.push_back({"malformed/gra-wrong-companions.gra",
                 gra,
                 Bytes(kGraPaletteFileSize - 1, 0x0F),
                 Bytes(kGraFourthPlaneSize + 1, 0xFF),
                 {},
                 0});

  add("q-truncated.q", Bytes(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(q.size() / 2)));
  add("q-header-only.q", Bytes(q.begin(), q.begin() + qformat::kHeaderSize));
  // The size field lying both ways.
  for (int by : {1, -1}) {
    Bytes lying = q;
    writeLe24(&lying[qformat::kFileSizeOffset],
              static_cast<std::uint32_t>(static_cast<int>(q.size()) + by));
    add(by > 0 ? "q-size-beyond-end.q" : "q-size-short-of-end.q", lying);
  }
  Bytes qSignature = q;
  qSignature[qformat::kSignatureOffset] ^= 0x20;
  add("q-bad-signature.q", qSignature);
  add("q-empty.q", {});
  return out;
}

std::vector<PictureFiles> pinnedSet() {
  std::vector<PictureFiles> all = samples();
  for (auto* more : {writerPictures, malformed}) {
    for (PictureFiles& p : more()) all.push_back(std::move(p));
  }
  return all;
}

std::string writeAll(const std::string& folder, const std::vector<PictureFiles>& pictures) {
  namespace fs = std::filesystem;
  for (const PictureFiles& p : pictures) {
    for (const auto& [name, bytes] : p.files()) {
      const fs::path path = fs::path(folder) / name;
      std::error_code error;
      fs::create_directories(path.parent_path(), error);
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
      if (!out.flush()) return path.string() + ": cannot write the file";
    }
  }
  return "";
}

}  // namespace pictures
