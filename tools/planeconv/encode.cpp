// SPDX-License-Identifier: MIT
// encode: a PNG becomes a GRA or Q picture, through the project's writers.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>

#include "framework/companion_rule.h"
#include "gra/gra_format.h"
#include "gra/writer/gra_writer.h"
#include "host/code_page_932.h"
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

// The colours of an 8-colour Q picture: the first 8 default colours, which readers show it in.
constexpr int kFixedColors = 8;

std::string fixedColorList() {
  std::string list;
  for (int i = 0; i < kFixedColors; ++i)
    list += (i ? ", " : "") + describe(fromPalette(DefaultPalette[i]));
  return list;
}

// The fixed colour nearest to c (by the distance of the 8-bit components).
Color4 nearestFixed(const Color4& c) {
  Color4 best{};
  int bestDistance = INT_MAX;
  for (int i = 0; i < kFixedColors; ++i) {
    const Color4 f = fromPalette(DefaultPalette[i]);
    const auto square = [](int a, int b) { return (a - b) * 17 * (a - b) * 17; };
    const int distance = square(c.red, f.red) + square(c.green, f.green) + square(c.blue, f.blue);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = f;
    }
  }
  return best;
}

// The picture as indices into at most maxColors colours. When every colour is one of the
// default colours the default indices are kept, so that a reader without the picture's own
// colours still shows it right; otherwise colours are numbered in order of first appearance.
// fixedDefault: only the first maxColors default colours may be used (8-colour Q pictures);
// with nearest, every other colour becomes the nearest of them, and changed counts the pixels
// that did.
std::string reduce(const host::RgbaImage& image, int maxColors, bool fixedDefault, bool nearest,
                   std::vector<std::uint8_t>& indices, std::vector<Color4>& colors,
                   std::size_t& changed) {
  changed = 0;
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
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::uint8_t* p = &image.rgba[4 * i];
    pixels[i] = {toFourBits(p[0]), toFourBits(p[1]), toFourBits(p[2])};
  }
  if (fixedDefault) {
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      auto found = defaultIndex.find(pixels[i]);
      if (found != defaultIndex.end() && found->second < kFixedColors) continue;
      if (nearest) {
        pixels[i] = nearestFixed(pixels[i]);
        ++changed;
        continue;
      }
      int x = static_cast<int>(i % image.width), y = static_cast<int>(i / image.width);
      return "colour " + describe(pixels[i]) + " at " + std::to_string(x) + ", " +
             std::to_string(y) + " is not one of the 8 fixed colours of an 8-colour " +
             std::string(qformat::kFormat.shortTitle()) + " picture: " + fixedColorList() +
             " (--nearest maps each pixel to the nearest of them)";
    }
  }
  std::vector<Color4> seen;
  std::map<Color4, int> order;
  for (const Color4& pixel : pixels) {
    if (order.emplace(pixel, static_cast<int>(seen.size())).second) seen.push_back(pixel);
  }
  if (static_cast<int>(seen.size()) > maxColors) {
    return std::to_string(seen.size()) + " colours after reduction to 4 bits per channel; " +
           (maxColors == 8 ? "an " : "a ") + std::to_string(maxColors) +
           "-colour picture holds at most " + std::to_string(maxColors);
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
  if (options.nearest && (gra || options.colors != kFixedColors)) {
    return refuse(output,
                  "--nearest is for 8-colour " + std::string(qformat::kFormat.shortTitle()) +
                      " pictures (--colors 8 and a " + qExtension +
                      " output), whose colours are fixed",
                  2);
  }
  if (gra && options.hasComment) {
    return refuse(output,
                  std::string(kGraFormat.shortTitle()) +
                      " pictures carry no comment; --comment is for " + qExtension,
                  2);
  }
  const bool eight = options.colors == 8;
  // The comment as the picture holds it: in code page 932 (host/code_page_932.h).
  std::string comment;
  if (options.hasComment) {
    std::string error;
    if (!host::toCodePage932(options.comment, comment, error))
      return refuse(output, "the comment cannot be written: " + error, 2);
    if (comment.size() > static_cast<std::size_t>(qformat::kCommentSize)) {
      const std::string_view fits =
          host::prefixFittingCodePage932(options.comment, qformat::kCommentSize);
      return refuse(output,
                    "the comment takes " + std::to_string(comment.size()) +
                        " bytes in code page 932, and a " +
                        std::string(qformat::kFormat.shortTitle()) + " picture holds " +
                        std::to_string(qformat::kCommentSize) + ": \"" + host::printable(fits) +
                        "\" fits",
                    2);
    }
  }

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
  std::size_t changed = 0;
  if (std::string e =
          reduce(image, options.colors, eight && !gra, options.nearest, indices, colors, changed);
      !e.empty())
    return refuse(input, e);
  if (options.nearest && !options.quiet) {
    std::fprintf(stderr, "%s: %zu pixel%s changed to the nearest of the 8 fixed colours\n",
                 shown(input).c_str(), changed, changed == 1 ? "" : "s");
  }

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
      picture.comment = comment;
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
