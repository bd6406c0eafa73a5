// SPDX-License-Identifier: MIT
// Writes the seed inputs of the fuzz targets: small pictures stored with the writers so that
// every coding path of each format is in some seed, each followed by a few steering tails (see
// fuzz_host.h) so that every way of calling the plug-in is in some seed too.
//
//   make_seeds gra|q FOLDER [PICTURE...]      also a seed of each picture file named
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "gra/writer/gra_writer.h"
#include "q/writer/q_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Steering tails: from memory; by name with both companions, progress going on; by name with
// companions of wrong sizes, recognised through a handle, cancelled at the third progress call;
// with the first allocation failing.
const std::uint8_t kTails[][4] = {
    {0x00, 0, 0, 0},
    {0x01 | 1 << 3 | 1 << 5, 1, 0x29, 0},
    {0x01 | 2 << 3 | 3 << 5 | 0x80, 5, 0x13, 0},
    {0x00, 0, 0, 1 << 6},
};

int written = 0;

void save(const std::filesystem::path& folder, const std::string& name, const Bytes& file) {
  for (std::size_t t = 0; t < std::size(kTails); ++t) {
    Bytes input = file;
    input.insert(input.end(), std::begin(kTails[t]), std::end(kTails[t]));
    std::ofstream(folder / (name + "-" + std::to_string(t)), std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    ++written;
  }
}

// A value from 0 to 15 for each pixel of a small scene: bars, a diagonal, a band of scattered
// dots, in the top rows only, so that the files stay small.
int scenePixel(int x, int y, unsigned seed) {
  if (y >= 48) return 0;
  if (y < 16) return (x / 40 + seed) & 15;
  if (y < 32) return (x + y) % 23 < 3 ? 9 + (seed & 3) : 2;
  unsigned h = (x * 2654435761u) ^ (y * 40503u) ^ seed;
  return (h & 0x700) == 0 ? (h >> 13) & 15 : 0;
}

void graSeeds(const std::filesystem::path& folder) {
  auto picture = std::make_unique<GraPicture>();
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) picture->at(x, y) = scenePixel(x, y, 3);
  }
  picture->colors[1] = Color4{15, 8, 1};

  GraWriteOptions plain;
  save(folder, "plain", writeGra(*picture, plain).picture);

  GraWriteOptions window;
  window.window = GraWindow{3, 70, 2, 30};
  window.headerBlocks = 3;
  save(folder, "window", writeGra(*picture, window).picture);

  GraWriteOptions equalEscapes;
  equalEscapes.escapes = GraEscapes{0x00, 0x00, 0xFF};
  equalEscapes.repeatPairs = false;
  equalEscapes.varyFlagBits = true;
  save(folder, "escapes", writeGra(*picture, equalEscapes).picture);

  GraWriteOptions ownPlanes;
  ownPlanes.plane1 = GraPlaneSource::Own;
  ownPlanes.plane2 = GraPlaneSource::Plane1;
  ownPlanes.skipCodes = false;
  ownPlanes.headerBlocks = 0;
  save(folder, "own-planes", writeGra(*picture, ownPlanes).picture);

  GraWriteOptions runsOnly;
  runsOnly.plane2 = GraPlaneSource::Plane0;
  runsOnly.invertRuns = false;
  runsOnly.escapes = GraEscapes{0x11, 0x22, 0x33};
  save(folder, "xor-runs", writeGra(*picture, runsOnly).picture);
}

void qSeeds(const std::filesystem::path& folder) {
  auto picture = std::make_unique<QPicture>();
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      picture->pixels[y * kPictureWidth + x] = static_cast<std::uint8_t>(scenePixel(x, y, 5));
    }
  }
  for (int k = 0; k < kPaletteEntries; ++k) {
    picture->palette[k] = Color4{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(15 - k),
                                 static_cast<std::uint8_t>(k / 2)};
  }
  picture->comment = "Seed picture";

  QWriteOptions plain;
  save(folder, "plain16", writeQ(*picture, plain).picture);

  QWriteOptions literal;
  literal.literalMode = QWriteOptions::LiteralMode::Alternate;
  literal.codes = QWriteOptions::Codes::MostUsed;
  literal.reference = QWriteOptions::Reference::Scattered;
  literal.overrunLineEnds = true;
  save(folder, "literal16", writeQ(*picture, literal).picture);

  QWriteOptions uneven;
  uneven.linesPerChunk =
      std::array<int, qformat::kChunkCount>{0, 400, 0, 100, 100, 100, 50, 50, 0, 0};
  uneven.partialLineAtChunkEnds = true;
  uneven.extraLines = 3;
  uneven.reference = QWriteOptions::Reference::OwnSlot;
  save(folder, "uneven16", writeQ(*picture, uneven).picture);

  for (auto& p : picture->pixels) p &= 7;
  picture->eightColors = true;
  picture->comment = " eight";
  save(folder, "plain8", writeQ(*picture, plain).picture);
  QWriteOptions literal8 = literal;
  literal8.literalMode = QWriteOptions::LiteralMode::On;
  picture->comment.clear();
  save(folder, "literal8", writeQ(*picture, literal8).picture);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (std::string(argv[1]) != "gra" && std::string(argv[1]) != "q")) {
    std::fprintf(stderr, "usage: make_seeds gra|q FOLDER [PICTURE...]\n");
    return 2;
  }
  const std::filesystem::path folder = argv[2];
  std::filesystem::create_directories(folder);
  if (std::string(argv[1]) == "gra") {
    graSeeds(folder);
  } else {
    qSeeds(folder);
  }
  for (int i = 3; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    save(folder, "sample-" + std::filesystem::path(argv[i]).filename().string(), file);
  }
  std::printf("%d seeds written to %s\n", written, folder.c_str());
  return 0;
}
