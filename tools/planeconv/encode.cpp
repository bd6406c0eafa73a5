// SPDX-License-Identifier: MIT
// encode: a PNG becomes a GRA or Q picture, through the project's writers.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>

#include "framework/companion_rule.h"
#include "gra/gra_format.h"
#include "gra/writer/gra_writer.h"
#include "host/companions.h"
#include "host/files.h"
#include "host/image_files.h"
#include "q/q_format.h"
#include "q/writer/q_writer.h"
#include "tools/planeconv/commands.h"
#include "tools/planeconv/options.h"

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
  // A palette PNG whose pixels use only its first maxColors entries (one of at most maxColors
  // entries, a picture planeconv wrote, or one whose editor stored a longer palette) keeps its
  // indices, so its colours keep their order, wherever the picture's colours are free (all but
  // an 8-colour Q picture's). Entries past the 16th are unused and dropped.
  const bool indexed =
      !image.palette.empty() && std::all_of(image.indices.begin(), image.indices.end(),
                                            [&](std::uint8_t i) { return i < maxColors; });
  if (!fixedDefault && indexed) {
    colors.clear();
    for (std::size_t i = 0; i < image.palette.size() && i < kPaletteEntries; ++i)
      colors.push_back(fromPalette(image.palette[i]));
    for (std::size_t i = colors.size(); i < kPaletteEntries; ++i)
      colors.push_back(fromPalette(DefaultPalette[i]));
    indices = image.indices;
    return "";
  }
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

int refuse(const std::string& path, const std::string& message, int code = 1) {
  std::fprintf(stderr, "%s: %s\n", shown(path).c_str(), message.c_str());
  return code;
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
  // The format is the one whose extension the output name carries.
  std::string graExtension = ".", qExtension = ".";
  graExtension += kGraFormat.extensions.front();
  qExtension += qformat::kFormat.extensions.front();
  const bool gra = nameHasExtensionOf(kGraFormat, output.c_str());
  if (!gra && !nameHasExtensionOf(qformat::kFormat, output.c_str())) {
    return refuse(output, "the output name must end in " + graExtension + " or " + qExtension, 2);
  }
  if (gra && options.hasComment) {
    return refuse(output,
                  std::string(kGraFormat.shortTitle()) +
                      " pictures carry no comment; --comment is for " + qExtension,
                  2);
  }
  const bool eight = options.colors == 8;

  // The whole set: the picture, and for GRA its palette file and (16 colours) its fourth plane,
  // named as the plug-in looks for them.
  const std::string palette = gra ? companionName(output, kGraPaletteExtension) : "";
  const std::string fourthPlane = gra ? companionName(output, kGraFourthPlaneExtension) : "";
  std::vector<std::string> names = {output};
  if (gra && !palette.empty()) names.push_back(palette);
  if (gra && !eight && !fourthPlane.empty()) names.push_back(fourthPlane);
  // A fourth plane the new picture does not use would change its colours: it goes too.
  std::vector<std::string> stale;
  if (gra && eight && !fourthPlane.empty()) stale = host::filesNamedLike(fourthPlane);

  const host::FileId source = host::fileIdOf(input);
  for (const std::vector<std::string>* list : {&names, &stale}) {
    for (const std::string& name : *list) {
      if (source.exists && host::fileIdOf(name) == source)
        return refuse(name, "is the input; planeconv never writes over its inputs", 2);
    }
  }

  host::RgbaImage image;
  const host::Result read =
      host::readPng(input, image, static_cast<std::size_t>(kPictureWidth) * kPictureHeight);
  if (image.width && (image.width != kPictureWidth || image.height != kPictureHeight)) {
    return refuse(input, "the picture is " + std::to_string(image.width) + " x " +
                             std::to_string(image.height) + "; GRA and Q pictures are 640 x 400");
  }
  if (!read) return refuse(input, read.reason);
  if (!image.opaque && !options.quiet) {
    std::fprintf(stderr, "%s: warning: transparency is ignored (some pixels are not opaque)\n",
                 shown(input).c_str());
  }
  std::vector<std::uint8_t> indices;
  std::vector<Color4> colors;
  if (std::string e = reduce(image, options.colors, eight && !gra, indices, colors); !e.empty())
    return refuse(input, e);

  std::vector<host::NewFile> outputs;
  try {
    if (gra) {
      GraPicture picture;
      std::copy(indices.begin(), indices.end(), picture.pixels.begin());
      std::copy_n(colors.begin(), kPaletteEntries, picture.colors.begin());
      GraWriteOptions writeOptions;
      writeOptions.writeFourthPlane = !eight;
      GraFiles files = writeGra(picture, writeOptions);
      outputs.push_back({output, std::move(files.picture)});
      if (!palette.empty()) outputs.push_back({palette, std::move(files.palette)});
      if (!eight && !fourthPlane.empty())
        outputs.push_back({fourthPlane, std::move(files.fourthPlane)});
    } else {
      QPicture picture;
      std::copy(indices.begin(), indices.end(), picture.pixels.begin());
      std::copy_n(colors.begin(), kPaletteEntries, picture.palette.begin());
      picture.eightColors = eight;
      picture.comment = options.comment;
      outputs.push_back({output, writeQ(picture).picture});
    }
  } catch (const WriteError& e) {
    return refuse(output, std::string("cannot be written: ") + e.what());
  }

  // Every refusal before anything is written, worded for the command line.
  for (const std::string& name : stale) {
    if (!options.force) {
      return refuse(name,
                    "a fourth-plane file lies beside the new 8-colour picture and would change its "
                    "colours (--force removes it)");
    }
    if (host::Result r = host::outputProblem(name, true); !r) return refuse(name, r.reason);
  }
  for (const host::NewFile& file : outputs) {
    if (host::Result r = host::outputProblem(file.path, options.force); !r) {
      if (r.reason == host::kAlreadyExists) r.reason += " (use --force to replace it)";
      return refuse(file.path, r.reason);
    }
  }

  // The set is finished (or not) under the lock the interrupt takes: the summary is exact.
  static std::atomic<bool> written{false};
  host::cleanUpOnInterrupt([](int) {
    std::fputs(
        written ? "interrupted: the picture was written\n" : "interrupted: nothing written\n",
        stderr);
  });
  host::WriteOptions write;
  write.overwrite = options.force;
  write.createFolders = true;
  write.onFinished = [] { written = true; };
  if (host::Result r = host::writeFilesTogether(outputs, stale, write); !r) {
    std::fprintf(stderr, "%s\n", shown(r.reason).c_str());
    return 1;
  }
  if (!options.quiet) {
    for (const host::NewFile& file : outputs)
      std::fprintf(stderr, "wrote %s (%zu bytes)\n", shown(file.path).c_str(), file.bytes.size());
    for (const std::string& name : stale) std::fprintf(stderr, "removed %s\n", shown(name).c_str());
  }
  return 0;
}
