// SPDX-License-Identifier: MIT
// The test pictures of the whole tree, drawn here and stored with the format writers: the
// bundled samples (tools/samplegen writes them to samples/), the scenes the tests and the
// benchmark draw, the writer options that make each decoder path appear in a file, and files
// that a plug-in must refuse. Everything is deterministic: the same bytes on every machine.
//
//   Indices busy = pictures::draw(Scene::Busy, 16, 1);
//   GraPicture card = pictures::graPicture(Scene::Card);
//   for (const pictures::PictureFiles& p : pictures::pinnedSet()) ...
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gra/writer/gra_writer.h"
#include "q/writer/q_writer.h"

using Bytes = std::vector<std::uint8_t>;

namespace pictures {

// Colour indices of a picture, row-major, top row first.
using Indices = std::array<std::uint8_t, kPictureWidth * kPictureHeight>;
using Colours = std::array<Color4, kPaletteEntries>;

enum class Scene {
  Card,      // a test card: 16 colour bars, a grid, a circle and corner marks
  Gradient,  // a diagonal gradient over colours 0 to 13, ordered-dithered, shapes in 14 and 15
  Eight,     // bands and shapes in colours 0 to 7
  Busy,      // a dithered ramp with one pixel in six random: hardly a plane byte repeats
  Noise,     // every pixel random: the worst case for both formats' run codes
  Bands,     // horizontal bands and vertical stripes: repeated pairs and XOR runs
  Shapes,    // rectangles, discs and scattered dots: skips, runs and plain bytes
  Flicker,   // a region that switches between colours 0 and 7 every pair: inverts and copies
  Dither,    // checkered mixes of two colours a band: plane copies
  Mixed,     // solid bands, wide steps, lines that repeat every three pairs, noise, a diagonal
  Sparse,    // mostly colour 0, a block, a short band of noise and one striped row: small files
};

// The scene in colours 0 to colours - 1 (the samples' scenes ignore colours); seed drives the
// scenes with random parts.
Indices draw(Scene scene, int colours = 16, unsigned seed = 1);
// 16 random colours.
Colours randomColours(unsigned seed);

// A picture of the scene with randomColours(seed), ready for the writers.
GraPicture graPicture(Scene scene, unsigned seed = 1, int colours = 16);
QPicture qPicture(Scene scene, unsigned seed = 1, int colours = 16, std::string comment = "");

// A picture file and the companion files beside it, under the name the set gives it: a path
// relative to the set's folder ("samples/card.gra"); companions share its stem.
struct PictureFiles {
  std::string name;
  Bytes picture;
  std::optional<Bytes> palette;      // GRA: the ".rgb" file
  std::optional<Bytes> fourthPlane;  // GRA: the ".e1" file
  // What was drawn and the bits a reader shows of it (7 without the fourth plane), for pictures
  // whose decode the drawing tells in full; mask 0 otherwise.
  Indices drawn{};
  std::uint8_t mask = 0;

  bool isGra() const;
  // The files to write: (name, bytes), the picture first.
  std::vector<std::pair<std::string, Bytes>> files() const;
};

// The bundled samples, named "samples/NAME", byte for byte as samples/ holds them.
std::vector<PictureFiles> samples();

// Writer options that put each path of a decoder into a file: window layout, header blocks,
// plane sources, every run code or none, equal escape bytes, varied flag bits (GRA); history
// references, literal mode, escaped codes, uneven chunks, lines dropped at chunk ends (Q).
std::vector<std::pair<std::string, GraWriteOptions>> graPaths();
std::vector<std::pair<std::string, QWriteOptions>> qPaths(int colours = 16);

// Pictures written with each of the paths above over a scene that gives them work, named
// "writer/NAME": GRA ones with both companions unless the path says otherwise, Q ones in 16
// and 8 colours, with comments of printable text, with bytes above 127, and without.
std::vector<PictureFiles> writerPictures();

// Files a plug-in must refuse, and pictures whose companions it must pass over, named
// "malformed/NAME": cut short, a size that lies, a wrong signature, header blocks beyond the
// end, companions of the wrong sizes.
std::vector<PictureFiles> malformed();

// Everything the pinned outputs cover (tests/expected/decoded.sha256): the samples, the writer
// pictures and the malformed files, in that order.
std::vector<PictureFiles> pinnedSet();

// Writes the files of pictures under folder (creating subfolders); an error in words, or empty.
std::string writeAll(const std::string& folder, const std::vector<PictureFiles>& pictures);

}  // namespace pictures
