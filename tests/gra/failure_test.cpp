// SPDX-License-Identifier: MIT
// Failures: short sources at every length, and every allocation, lock and open failing.
#include "tests/gra/gra_test_support.h"

namespace {

// A picture whose file is short enough to cut at every length, yet uses every kind of pair and
// code: a few bands of the writer's scenes at the top of the picture, nothing below.
std::unique_ptr<GraPicture> sampler() {
  auto picture = std::make_unique<GraPicture>(pictures::graPicture(Scene::Shapes, 21));
  // One band at a time, so that no more than one drawing is on the stack.
  struct Band {
    int top;
    Scene scene;
    unsigned seed;
  };
  for (const Band& band : {Band{40, Scene::Flicker, 2}, Band{56, Scene::Dither, 5},
                           Band{64, Scene::Bands, 3}, Band{72, Scene::Noise, 4}}) {
    const auto scene =
        std::make_unique<pictures::Indices>(pictures::draw(band.scene, 16, band.seed));
    std::copy(scene->begin() + band.top * kPictureWidth, scene->end(),
              picture->pixels.begin() + band.top * kPictureWidth);
  }
  std::fill(picture->pixels.begin() + 80 * kPictureWidth, picture->pixels.end(), 0);
  return picture;
}

TEST(Truncation, EveryCutIsBadDataAndHandsNothingOver) {
  GraWriteOptions options;
  options.headerBlocks = 2;
  options.escapes = GraEscapes{0x00, 0xFF, 0x11};
  GraFiles files = writeGra(*sampler(), options);
  const GraWriteReport& s = files.report;
  for (int used :
       {s.repeatPairs, s.skips, s.invertRuns, s.xorRuns, s.plainBytes, s.doubledEscapes}) {
    ASSERT_GT(used, 0);
  }
  ASSERT_LT(files.picture.size(), 12000u);
  const Bytes& file = files.picture;

  ASSERT_EQ(decodeMemory(file).result, LoaderResult::Ok);
  for (std::size_t cut = 0; cut < file.size(); ++cut) {
    // An exact-size copy, so that the sanitizer catches any read past the cut.
    Bytes cutFile(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_EQ(decodeMemory(cutFile).result, LoaderResult::BadData) << "cut at " << cut;
    platform::Usage u = platform::usage();
    ASSERT_EQ(u.liveGlobalBlocks + u.lockedGlobalBlocks + u.liveHeapBlocks + u.openFiles, 0)
        << "cut at " << cut;
  }
  // Bytes after the last pair are never read.
  Bytes longer = file;
  longer.insert(longer.end(), {0x14, 9, 9});
  EXPECT_EQ(decodeMemory(longer).result, LoaderResult::Ok);
  expectNothingHeld();
}

TEST(Truncation, ByNameToo) {
  TempDir dir;
  GraFiles files = writeGra(*sampler());
  dir.write("pic.e1", files.fourthPlane);
  for (std::size_t cut : {std::size_t{0}, std::size_t{15}, std::size_t{16},
                          files.picture.size() / 2, files.picture.size() - 1}) {
    std::string path = dir.write(
        "pic.gra",
        Bytes(files.picture.begin(), files.picture.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_EQ(decodeFile(path).result, LoaderResult::BadData) << cut;
    expectNothingHeld();
  }
}

class FaultSweep : public ::testing::Test {
 protected:
  TempDir dir;
  std::unique_ptr<GraPicture> picture =
      std::make_unique<GraPicture>(pictures::graPicture(Scene::Shapes, 8));
  std::string path;

  void SetUp() override {
    GraFiles files = writeGra(*picture);
    path = dir.write("pic.gra", files.picture);
    dir.write("pic.rgb", files.palette);
    dir.write("pic.e1", files.fourthPlane);
  }
  std::vector<std::uint8_t> view(bool withFourthPlane) const {
    return readerView(*picture, GraWindow{0, kGraColumns, 0, kLinePairs}, withFourthPlane);
  }
  void expectPicture(const Decoded& decoded, bool withPalette, bool withFourthPlane,
                     const std::string& what) {
    ASSERT_EQ(decoded.result, LoaderResult::Ok) << what;
    EXPECT_EQ(decoded.palette, withPalette ? paletteFrom(picture->colors) : DefaultPalette) << what;
    EXPECT_TRUE(decoded.pixels == view(withFourthPlane)) << what;
  }
};

TEST_F(FaultSweep, GetPictureByName) {
  platform::setFaultPlan({});
  platform::OperationCounts counts;
  expectPicture(decodeFile(path, nullptr, &counts), true, true, "no fault");
  // The name copy, the information block, the pixel block; their locks; the picture, the
  // palette file, the fourth-plane file.
  ASSERT_EQ(counts.allocations, 3);
  ASSERT_EQ(counts.locks, 2);
  ASSERT_EQ(counts.opens, 3);

  for (int n = 1; n <= counts.allocations; ++n) {
    platform::ScopedFaultPlan plan({n, 0, 0});
    Decoded decoded = decodeFile(path);
    if (n == 1) {
      // Without a name copy no companion can be found: the picture comes without them.
      expectPicture(decoded, false, false, "allocation 1");
    } else {
      EXPECT_EQ(decoded.result, LoaderResult::NoMemory) << "allocation " << n;
    }
    expectNothingHeld();
  }
  for (int n = 1; n <= counts.locks; ++n) {
    platform::ScopedFaultPlan plan({0, n, 0});
    EXPECT_EQ(decodeFile(path).result, LoaderResult::LockFailed) << "lock " << n;
    expectNothingHeld();
  }
  for (int n = 1; n <= counts.opens; ++n) {
    platform::ScopedFaultPlan plan({0, 0, n});
    Decoded decoded = decodeFile(path);
    if (n == 1) {
      EXPECT_EQ(decoded.result, LoaderResult::OpenFailed);
    } else {
      expectPicture(decoded, n != 2, n != 3, "open " + std::to_string(n));
    }
    expectNothingHeld();
  }
}

TEST_F(FaultSweep, GetPictureFromMemory) {
  GraFiles files = writeGra(*picture);
  for (int n = 1; n <= 2; ++n) {
    {
      platform::ScopedFaultPlan plan({n, 0, 0});
      EXPECT_EQ(decodeMemory(files.picture).result, LoaderResult::NoMemory) << n;
    }
    {
      platform::ScopedFaultPlan plan({0, n, 0});
      EXPECT_EQ(decodeMemory(files.picture).result, LoaderResult::LockFailed) << n;
    }
    expectNothingHeld();
  }
}

TEST_F(FaultSweep, GetPictureInfoByName) {
  PictureInfoRecord info{};
  platform::setFaultPlan({});
  ASSERT_EQ(Gradec::getPictureInfo(path.c_str(), 0, kSourceIsFileName, &info), LoaderResult::Ok);
  const platform::OperationCounts counts = platform::operationCounts();
  ASSERT_EQ(counts.allocations, 1);  // the name copy
  ASSERT_EQ(counts.opens, 2);        // the picture and the palette file
  {
    platform::ScopedFaultPlan plan({1, 0, 0});
    EXPECT_EQ(Gradec::getPictureInfo(path.c_str(), 0, kSourceIsFileName, &info), LoaderResult::Ok);
  }
  expectNothingHeld();
  for (int n = 1; n <= counts.opens; ++n) {
    platform::ScopedFaultPlan plan({0, 0, n});
    EXPECT_EQ(Gradec::getPictureInfo(path.c_str(), 0, kSourceIsFileName, &info),
              n == 1 ? LoaderResult::OpenFailed : LoaderResult::Ok)
        << n;
    expectNothingHeld();
  }
}

}  // namespace
