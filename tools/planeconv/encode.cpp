// encode: a PNG becomes a GRA or Q picture, through the project's writers.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "gra/writer/gra_writer.h"
#include "host/files.h"
#include "host/image_files.h"
#include "q/writer/q_writer.h"
#include "tools/planeconv/commands.h"

namespace fs = std::filesystem;

namespace {

std::uint8_t toFourBits(std::uint8_t v) {
  return static_cast<std::uint8_t>((v * 15 + 127) / 255);
}

Color4 fromPalette(const RgbQuad& q) {
  return {toFourBits(q.red), toFourBits(q.green), toFourBits(q.blue)};
}

std::string describe(const Color4& c) {
  char text[32];
  std::snprintf(text, sizeof text, "(%d, %d, %d)", c.red * 17, c.green * 17, c.blue * 17);
  return text;
}

// The picture as indices into at most maxColors colours. When every colour is one of the
// default colours the default indices are kept, so that a reader without the picture's own
// colours still shows it right; otherwise colours are numbered in order of first appearance.
// fixedDefault: only the first maxColors default colours may be used (8-colour Q pictures).
std::string reduce(const host::RgbaImage& image, int maxColors, bool fixedDefault,
                   std::vector<std::uint8_t>& indices, std::vector<Color4>& colors) {
  std::map<Color4, int> defaultIndex;
  for (int i = kPaletteEntries - 1; i >= 0; --i) defaultIndex[fromPalette(DefaultPalette[i])] = i;

  std::vector<Color4> pixels(static_cast<std::size_t>(image.width) * image.height);
  std::vector<Color4> seen;
  std::map<Color4, int> order;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::uint8_t* p = &image.rgba[4 * i];
    pixels[i] = {toFourBits(p[0]), toFourBits(p[1]), toFourBits(p[2])};
    if (order.emplace(pixels[i], static_cast<int>(seen.size())).second) seen.push_back(pixels[i]);
  }
  if (fixedDefault) {
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      auto found = defaultIndex.find(pixels[i]);
      if (found == defaultIndex.end() || found->second >= maxColors) {
        int x = static_cast<int>(i % image.width), y = static_cast<int>(i / image.width);
        return "colour " + describe(pixels[i]) + " at " + std::to_string(x) + ", " +
               std::to_string(y) + " is not one of the 8 fixed colours of an 8-colour Q picture";
      }
    }
  }
  if (static_cast<int>(seen.size()) > maxColors) {
    return std::to_string(seen.size()) + " colours after reduction to 4 bits per channel; a " +
           std::to_string(maxColors) + "-colour picture holds at most " + std::to_string(maxColors);
  }
  bool allDefault = std::all_of(seen.begin(), seen.end(), [&](const Color4& c) {
    auto found = defaultIndex.find(c);
    return found != defaultIndex.end() && found->second < maxColors;
  });
  colors.clear();
  std::map<Color4, int> index;
  if (allDefault) {
    for (int i = 0; i < kPaletteEntries; ++i) colors.push_back(fromPalette(DefaultPalette[i]));
    index = defaultIndex;
  } else {
    colors = seen;
    index = order;
    for (int i = 0; i < kPaletteEntries; ++i) {  // unused entries keep the default colours
      if (static_cast<int>(colors.size()) <= i) colors.push_back(fromPalette(DefaultPalette[i]));
    }
  }
  indices.resize(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i)
    indices[i] = static_cast<std::uint8_t>(index[pixels[i]]);
  return "";
}

std::string withExtension(const std::string& path, const char* extension) {
  return fs::path(path).replace_extension(extension).string();
}

}  // namespace

int runEncode(const Options& options) {
  if (options.files.size() != 2) {
    std::fprintf(stderr,
                 "planeconv encode: give one PNG and one output name (see 'planeconv "
                 "encode --help')\n");
    return 2;
  }
  const std::string& input = options.files[0];
  const std::string& output = options.files[1];
  std::string ext = fs::path(output).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool gra = ext == ".gra";
  if (!gra && ext != ".q") {
    std::fprintf(stderr, "%s: the output name must end in .gra or .q\n", output.c_str());
    return 2;
  }
  if (gra && options.hasComment) {
    std::fprintf(stderr, "%s: GRA pictures carry no comment; --comment is for .q\n",
                 output.c_str());
    return 2;
  }

  host::RgbaImage image;
  if (std::string e = host::readPng(input, image); !e.empty()) {
    std::fprintf(stderr, "%s: %s\n", input.c_str(), e.c_str());
    return 1;
  }
  if (image.width != kPictureWidth || image.height != kPictureHeight) {
    std::fprintf(stderr, "%s: the picture is %d x %d; GRA and Q pictures are 640 x 400\n",
                 input.c_str(), image.width, image.height);
    return 1;
  }
  std::vector<std::uint8_t> indices;
  std::vector<Color4> colors;
  const bool eight = options.colors == 8;
  if (std::string e = reduce(image, options.colors, eight && !gra, indices, colors); !e.empty()) {
    std::fprintf(stderr, "%s: %s\n", input.c_str(), e.c_str());
    return 1;
  }

  // Every output, written only when all could be made.
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> outputs;
  try {
    if (gra) {
      GraPicture picture;
      std::copy(indices.begin(), indices.end(), picture.pixels.begin());
      std::copy_n(colors.begin(), kPaletteEntries, picture.colors.begin());
      GraWriteOptions writeOptions;
      writeOptions.writeFourthPlane = !eight;
      GraFiles files = writeGra(picture, writeOptions);
      outputs.emplace_back(output, std::move(files.picture));
      outputs.emplace_back(withExtension(output, ".rgb"), std::move(files.palette));
      if (!eight) outputs.emplace_back(withExtension(output, ".e1"), std::move(files.fourthPlane));
    } else {
      QPicture picture;
      std::copy(indices.begin(), indices.end(), picture.pixels.begin());
      std::copy_n(colors.begin(), kPaletteEntries, picture.palette.begin());
      picture.eightColors = eight;
      picture.comment = options.comment;
      outputs.emplace_back(output, writeQ(picture).picture);
    }
  } catch (const WriteError& e) {
    std::fprintf(stderr, "%s: cannot be written: %s\n", output.c_str(), e.what());
    return 1;
  }

  if (!options.force) {
    for (const auto& [path, bytes] : outputs) {
      std::error_code error;
      if (fs::exists(path, error)) {
        std::fprintf(stderr, "%s: already exists (use --force to replace it)\n", path.c_str());
        return 1;
      }
    }
  }
  for (const auto& [path, bytes] : outputs) {
    if (std::string e = host::writeFileAtomically(path, bytes, options.force); !e.empty()) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), e.c_str());
      return 1;
    }
  }
  for (const auto& [path, bytes] : outputs)
    std::fprintf(stderr, "wrote %s (%zu bytes)\n", path.c_str(), bytes.size());
  return 0;
}
