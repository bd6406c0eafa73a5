// SPDX-License-Identifier: MIT
// Pictures written by the writer come back unchanged through GetPicture.
#include <set>

#include "tests/gra/gra_test_support.h"

namespace {

struct RoundTrip {
  std::string name;
  Scene scene;
  unsigned seed;
  GraWriteOptions options;
};

GraWindow windowOf(const GraWriteOptions& options) {
  GraHeader header{};
  if (options.window) {
    header.modeFlags = kGraWindowLayout;
    header.windowLeft = static_cast<std::uint8_t>(options.window->left);
    header.windowRight = static_cast<std::uint8_t>(options.window->right);
    header.windowTop = static_cast<std::uint8_t>(options.window->top);
    header.windowBottom = static_cast<std::uint8_t>(options.window->bottom);
  }
  return graWindowOf(header);
}

// The flag bytes of a written file, by walking its pairs.
std::set<int> flagBytesOf(const Bytes& file, int headerBlocks, const GraWindow& window) {
  std::set<int> flags;
  std::size_t at = static_cast<std::size_t>(std::max(headerBlocks, 1)) * kGraHeaderBlockSize;
  for (int pair = window.top; pair < window.bottom; ++pair) {
    std::uint8_t flag = file.at(at++);
    flags.insert(flag);
    if (flag == kGraRepeatPair) continue;
    for (int plane = 0; plane < kGraCodedPlanes; ++plane) at += 1 + file.at(at);
  }
  EXPECT_EQ(at, file.size()) << "the file ends after its last pair";
  return flags;
}

// Writes the picture, decodes it from memory (no companions) and by name (with whatever
// companions were written), and checks both against what the reader should show.
GraWriteReport roundTrip(const GraPicture& picture, const GraWriteOptions& options,
                         std::set<int>* flags = nullptr) {
  GraFiles files = writeGra(picture, options);
  const GraWindow window = windowOf(options);

  Decoded fromMemory = decodeMemory(files.picture);
  EXPECT_EQ(fromMemory.result, LoaderResult::Ok);
  if (fromMemory.result == LoaderResult::Ok) {
    std::vector<std::uint8_t> want = readerView(picture, window, false);
    EXPECT_TRUE(fromMemory.pixels == want) << firstDifference(fromMemory.pixels, want);
    EXPECT_EQ(fromMemory.palette, DefaultPalette);
  }

  TempDir dir;
  std::string path = dir.write("picture.gra", files.picture);
  EXPECT_EQ(files.palette.size(), options.writePalette ? 48u : 0u);
  EXPECT_EQ(files.fourthPlane.size(), options.writeFourthPlane ? 32000u : 0u);
  if (options.writePalette) dir.write("picture.rgb", files.palette);
  if (options.writeFourthPlane) dir.write("picture.e1", files.fourthPlane);
  Decoded fromFile = decodeFile(path);
  EXPECT_EQ(fromFile.result, LoaderResult::Ok);
  if (fromFile.result == LoaderResult::Ok) {
    std::vector<std::uint8_t> want = readerView(picture, window, options.writeFourthPlane);
    EXPECT_TRUE(fromFile.pixels == want) << firstDifference(fromFile.pixels, want);
    EXPECT_EQ(fromFile.palette,
              options.writePalette ? paletteFrom(picture.colors) : DefaultPalette);
  }
  std::set<int> seen = flagBytesOf(files.picture, options.headerBlocks, window);
  if (flags) flags->insert(seen.begin(), seen.end());
  expectNothingHeld();
  return files.report;
}

void add(GraWriteReport& sum, const GraWriteReport& s) {
  sum.repeatPairs += s.repeatPairs;
  sum.codedPairs += s.codedPairs;
  sum.plane1Own += s.plane1Own;
  sum.plane1FromPlane0 += s.plane1FromPlane0;
  sum.plane2Own += s.plane2Own;
  sum.plane2FromPlane0 += s.plane2FromPlane0;
  sum.plane2FromPlane1 += s.plane2FromPlane1;
  sum.skips += s.skips;
  sum.invertRuns += s.invertRuns;
  sum.xorRuns += s.xorRuns;
  sum.plainBytes += s.plainBytes;
  sum.doubledEscapes += s.doubledEscapes;
}

TEST(RoundTrip, EveryScene) {
  GraWriteReport sum;
  for (Scene scene : {Scene::Noise, Scene::Bands, Scene::Shapes, Scene::Flicker, Scene::Dither}) {
    for (unsigned seed : {1u, 2u}) {
      SCOPED_TRACE("scene " + std::to_string(static_cast<int>(scene)) + " seed " +
                   std::to_string(seed));
      add(sum, roundTrip(pictures::graPicture(scene, seed), {}));
    }
  }
  // Left to its own choices the writer already uses every kind of pair and code but the
  // doubled escapes, which it avoids by choosing escape bytes the changes do not need.
  EXPECT_GT(sum.repeatPairs, 0);
  EXPECT_GT(sum.plane1Own, 0);
  EXPECT_GT(sum.plane1FromPlane0, 0);
  EXPECT_GT(sum.plane2Own, 0);
  EXPECT_GT(sum.plane2FromPlane0, 0);
  EXPECT_GT(sum.plane2FromPlane1, 0);
  EXPECT_GT(sum.skips, 0);
  EXPECT_GT(sum.invertRuns, 0);
  EXPECT_GT(sum.xorRuns, 0);
  EXPECT_GT(sum.plainBytes, 0);
}

TEST(RoundTrip, ForcedPlaneSources) {
  const std::pair<GraPlaneSource, GraPlaneSource> sources[] = {
      {GraPlaneSource::Own, GraPlaneSource::Own},
      {GraPlaneSource::Plane0, GraPlaneSource::Plane0},
      {GraPlaneSource::Own, GraPlaneSource::Plane1},
      {GraPlaneSource::Plane0, GraPlaneSource::Plane1},
  };
  for (auto [plane1, plane2] : sources) {
    for (Scene scene : {Scene::Shapes, Scene::Flicker}) {
      GraWriteOptions options;
      options.plane1 = plane1;
      options.plane2 = plane2;
      GraWriteReport stats = roundTrip(pictures::graPicture(scene, 5), options);
      EXPECT_GT(stats.codedPairs, 0);
      EXPECT_EQ(plane1 == GraPlaneSource::Own ? stats.plane1Own : stats.plane1FromPlane0,
                stats.codedPairs);
      EXPECT_EQ(plane2 == GraPlaneSource::Own      ? stats.plane2Own
                : plane2 == GraPlaneSource::Plane0 ? stats.plane2FromPlane0
                                                   : stats.plane2FromPlane1,
                stats.codedPairs);
    }
  }
}

TEST(RoundTrip, EverySpellingOfTheFlagByte) {
  std::set<int> flags;
  for (GraPlaneSource plane2 :
       {GraPlaneSource::Own, GraPlaneSource::Plane0, GraPlaneSource::Plane1}) {
    GraWriteOptions options;
    options.varyFlagBits = true;
    options.repeatPairs = false;
    options.plane1 = GraPlaneSource::Plane0;
    options.plane2 = plane2;
    roundTrip(pictures::graPicture(Scene::Dither, 1), options, &flags);
  }
  std::set<int> plane1Copies, plane2FromPlane1;
  for (int f : flags) {
    plane1Copies.insert(f & kGraPlane1SourceMask);
    if ((f & kGraPlane2SourceMask) != kGraPlane2FromOwn &&
        (f & kGraPlane2SourceMask) != kGraPlane2FromPlane0)
      plane2FromPlane1.insert(f & kGraPlane2SourceMask);
  }
  EXPECT_EQ(plane1Copies, (std::set<int>{0x00, 0x08, 0x0C}));
  EXPECT_EQ(plane2FromPlane1, (std::set<int>{0x00, 0x30}));
  EXPECT_TRUE(flags.count(0x01) || flags.count(0x02)) << "a byte with only unused bits set";
  EXPECT_FALSE(flags.count(kGraRepeatPair)) << "repeats were not allowed";
}

TEST(RoundTrip, ChosenEscapeBytes) {
  const GraEscapes escapes[] = {
      {0x00, 0xFF, 0x55},  // the commonest change values as escapes: doubled escapes
      {0x00, 0x00, 0x00},  // a single escape byte, and it is 0
      {0x33, 0x33, 0x34},  // invert runs unusable
      {0x40, 0x41, 0x41},  // XOR runs unusable
      {0x11, 0x00, 0x01},
  };
  GraWriteReport sum;
  for (const GraEscapes& e : escapes) {
    for (Scene scene : {Scene::Shapes, Scene::Flicker, Scene::Bands}) {
      SCOPED_TRACE("escapes " + std::to_string(e.skipCode) + " " + std::to_string(e.invertCode) +
                   " " + std::to_string(e.xorRunCode));
      GraWriteOptions options;
      options.escapes = e;
      GraWriteReport stats = roundTrip(pictures::graPicture(scene, 7), options);
      if (e.invertCode == e.skipCode) {
        EXPECT_EQ(stats.invertRuns, 0);
      }
      if (e.xorRunCode == e.skipCode || e.xorRunCode == e.invertCode) {
        EXPECT_EQ(stats.xorRuns, 0);
      }
      add(sum, stats);
    }
  }
  EXPECT_GT(sum.doubledEscapes, 0);
}

TEST(RoundTrip, WithoutRunCodesOrRepeats) {
  GraWriteOptions options;
  options.skipCodes = false;
  options.invertRuns = false;
  options.xorRuns = false;
  options.repeatPairs = false;
  GraWriteReport stats = roundTrip(pictures::graPicture(Scene::Shapes, 9), options);
  EXPECT_EQ(stats.skips + stats.invertRuns + stats.xorRuns + stats.repeatPairs, 0);
  EXPECT_EQ(stats.codedPairs, kLinePairs);
}

TEST(RoundTrip, HeaderBlocks) {
  for (int blocks : {0, 1, 2, 3, 255}) {
    GraWriteOptions options;
    options.headerBlocks = blocks;
    GraFiles files = writeGra(pictures::graPicture(Scene::Bands, 3), options);
    EXPECT_EQ(files.picture[1], blocks);
    roundTrip(pictures::graPicture(Scene::Bands, 3), options);
  }
}

TEST(RoundTrip, Windows) {
  const GraWindow windows[] = {
      {10, 50, 20, 150}, {0, 80, 0, 200}, {3, 4, 0, 200}, {0, 80, 199, 200},
      {200, 0, 250, 0},  {60, 30, 5, 9},  {0, 80, 9, 9},  {79, 80, 0, 1},
  };
  for (const GraWindow& w : windows) {
    SCOPED_TRACE("window " + std::to_string(w.left) + " " + std::to_string(w.right) + " " +
                 std::to_string(w.top) + " " + std::to_string(w.bottom));
    GraWriteOptions options;
    options.window = w;
    roundTrip(pictures::graPicture(Scene::Shapes, 11), options);
    roundTrip(pictures::graPicture(Scene::Noise, 11), options);
  }
}

TEST(RoundTrip, CompanionsOnlyWhenAsked) {
  GraWriteOptions options;
  options.writePalette = false;
  roundTrip(pictures::graPicture(Scene::Shapes, 4), options);
  options.writePalette = true;
  options.writeFourthPlane = false;
  roundTrip(pictures::graPicture(Scene::Shapes, 4), options);
}

TEST(Writer, RejectsWhatItCannotStore) {
  auto picture = newPicture();
  picture->at(5, 5) = 16;
  EXPECT_THROW(writeGra(*picture), WriteError);
  picture->at(5, 5) = 15;
  picture->colors[3].green = 16;
  EXPECT_THROW(writeGra(*picture), WriteError);
  picture->colors[3].green = 15;

  GraWriteOptions options;
  options.plane1 = GraPlaneSource::Plane1;
  EXPECT_THROW(writeGra(*picture, options), WriteError);
  options = {};
  options.headerBlocks = 256;
  EXPECT_THROW(writeGra(*picture, options), WriteError);
  options = {};
  options.window = GraWindow{0, 256, 0, 200};
  EXPECT_THROW(writeGra(*picture, options), WriteError);
  EXPECT_NO_THROW(writeGra(*picture));
}

TEST(Writer, ChangesThatDoNotFitOneChunk) {
  // Plane 0 of pair 0 alternates the bytes 0x01 and 0x02: with both as escape bytes each
  // change takes two bytes, 320 in all, more than a chunk holds.
  auto picture = newPicture();
  for (int j = 0; j < kPlaneLineBytes; ++j) picture->at(4 * j + (j % 2 ? 2 : 3), 1) = 1;
  GraWriteOptions options;
  options.escapes = GraEscapes{0x01, 0x02, 0x03};
  EXPECT_THROW(writeGra(*picture, options), WriteError);
  // Left to choose, the writer takes other escape bytes and the picture fits.
  roundTrip(*picture, {});
}

}  // namespace
