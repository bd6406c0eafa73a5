// SPDX-License-Identifier: MIT
// Pictures from the format writers, for the comparison of the emulated DLLs with the native
// build. The build defines HAVE_GRA_WRITER and HAVE_Q_WRITER when the writer libraries exist;
// without one, its list is empty and the random inputs carry the comparison alone.
#include <cstdlib>

#include "tests/emulated/picture_inputs.h"

#ifdef HAVE_GRA_WRITER
#include "gra/writer/gra_writer.h"
#endif
#ifdef HAVE_Q_WRITER
#include "q/writer/q_writer.h"
#endif

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 400;

// Pictures of shapes in colour indices 0 to colors - 1: stripes, a chequerboard, rings, a
// diagonal ramp, and a patch of noise, so that line pairs repeat, change a little and change a
// lot.
int shapePixel(int variant, int x, int y, int colors, Random& noise) {
  switch (variant % 5) {
    case 0:
      return (x / 24 + y / 50) % colors;
    case 1:
      return ((x / 8) ^ (y / 8)) & 1 ? colors - 1 : 0;
    case 2: {
      const int dx = x - 320, dy = 2 * (y - 200);
      return (static_cast<int>(std::abs(dx) + std::abs(dy)) / 20) % colors;
    }
    case 3:
      return ((x + y) / 40) % colors;
    default:
      return x >= 200 && x < 280 && y >= 100 && y < 140 ? noise.below(colors) : (y / 100) % colors;
  }
}

}  // namespace

std::vector<PictureCase> graWriterCases() {
  std::vector<PictureCase> cases;
#ifdef HAVE_GRA_WRITER
  Random noise(7);
  for (int variant = 0; variant < 6; ++variant) {
    GraPicture picture;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        picture.at(x, y) = static_cast<std::uint8_t>(shapePixel(variant, x, y, 16, noise));
    for (int k = 0; k < 16; ++k)
      picture.colors[static_cast<std::size_t>(k)] = {static_cast<std::uint8_t>(k),
                                                     static_cast<std::uint8_t>(15 - k),
                                                     static_cast<std::uint8_t>((k * 5) % 16)};
    GraWriteOptions options;
    std::string label = "GRA writer, picture " + std::to_string(variant);
    switch (variant) {
      case 1:
        options.window = GraWindow{10, 70, 20, 180};
        label += ", window";
        break;
      case 2:
        options.headerBlocks = 3;
        options.plane1 = GraPlaneSource::Own;
        options.plane2 = GraPlaneSource::Plane1;
        options.varyFlagBits = true;
        label += ", 3 header blocks, planes from their own contents";
        break;
      case 3:
        options.skipCodes = options.invertRuns = options.xorRuns = false;
        options.repeatPairs = false;
        label += ", plain bytes only";
        break;
      case 4:
        options.escapes = GraEscapes{0x55, 0x55, 0xAA};
        label += ", equal escape bytes";
        break;
      default:
        break;
    }
    const GraFiles files = writeGra(picture, options);
    cases.push_back({label, files.picture, files.palette, files.fourthPlane});
  }
#endif
  return cases;
}

std::vector<PictureCase> qWriterCases() {
  std::vector<PictureCase> cases;
#ifdef HAVE_Q_WRITER
  Random noise(11);
  for (int variant = 0; variant < 6; ++variant) {
    QPicture picture;
    picture.eightColors = variant % 3 == 1;
    const int colors = picture.eightColors ? 8 : 16;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        picture.pixels[static_cast<std::size_t>(y * kWidth + x)] =
            static_cast<std::uint8_t>(shapePixel(variant, x, y, colors, noise));
    for (int k = 0; k < 16; ++k)
      picture.palette[static_cast<std::size_t>(k)] = {static_cast<std::uint8_t>((k * 3) % 16),
                                                      static_cast<std::uint8_t>(k),
                                                      static_cast<std::uint8_t>(15 - k)};
    if (variant % 2 == 0)
      picture.comment = "A picture made for the tests " + std::to_string(variant);
    QWriteOptions options;
    std::string label = "Q writer, picture " + std::to_string(variant) +
                        (picture.eightColors ? ", 8 colours" : ", 16 colours");
    switch (variant) {
      case 2:
        options.reference = QWriteOptions::Reference::Scattered;
        options.literalMode = QWriteOptions::LiteralMode::Alternate;
        options.codes = QWriteOptions::Codes::MostUsed;
        label += ", scattered references, escaped codes";
        break;
      case 3:
        options.overrunLineEnds = true;
        options.partialLineAtChunkEnds = true;
        options.extraLines = 5;
        label += ", overlong runs, dropped lines";
        break;
      case 4:
        options.reference = QWriteOptions::Reference::OwnSlot;
        options.literalMode = QWriteOptions::LiteralMode::On;
        label += ", own slots, literal mode";
        break;
      default:
        break;
    }
    cases.push_back({label, writeQ(picture, options).picture, std::nullopt, std::nullopt});
  }
#endif
  return cases;
}
