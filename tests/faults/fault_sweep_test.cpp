// SPDX-License-Identifier: MIT
// Every allocation, lock and open of whole GetPicture and GetPictureInfo calls failing in turn,
// for both plug-ins: a GRA picture by name with its palette and fourth-plane files, and Q
// pictures of 8 and 16 colours with comments, by name and from memory. Each failure must give
// its own code, or Ok where the plug-in does without what failed (the copy of the name, a
// companion file); must hand the host nothing on failure; and must leave nothing behind. The
// native link's calls too: with a report, and with companions held in memory.
#include <memory>
#include <string>
#include <vector>

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "gra/writer/gra_writer.h"
#include "q/q_loader.h"
#include "q/writer/q_writer.h"
#include "tests/support/fault_sweep.h"

namespace {

using namespace fault_sweep;

using Gradec = PluginExports<GraLoader>;
using Qdec = PluginExports<QLoader>;

// A picture of all 16 values: bars, and a checkerboard on the lower half.
int pixelAt(int x, int y) {
  return y < kPictureHeight / 2 ? (x / 40) & 15 : ((x / 8 + y / 8) % 2) * 9 + (y / 50) % 7;
}

// A report that notes nothing: the sweeps check what is held, not what is told.
struct IgnoredReport final : LoaderReport {
  void colors(int) override {}
  void companionTaken(const char*, CompanionUse) override {}
};

GraFiles sweptGraFiles() {
  auto picture = std::make_unique<GraPicture>();
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) picture->at(x, y) = pixelAt(x, y);
  }
  picture->colors[0] = Color4{1, 2, 3};
  return writeGra(*picture);
}

TEST(FaultSweep, GraByNameWithPaletteAndFourthPlane) {
  const GraFiles files = sweptGraFiles();
  TempDir dir;
  const std::string path = dir.write("pic.gra", files.picture);
  dir.write("pic.rgb", files.palette);
  dir.write("pic.e1", files.fourthPlane);
  const Source byName{path.c_str(), 0, kSourceIsFileName};

  // Allocation 1 is the copy of the name, without which no companion is looked for; opens 2
  // and 3 are the companions.
  const auto made = sweep("GetPicture", getPicture<Gradec>(byName),
                          {{Kind::Allocation, 1}, {Kind::Open, 2}, {Kind::Open, 3}});
  EXPECT_EQ(made.opens, 3);
  sweep("GetPictureInfo", getPictureInfo<Gradec>(byName, false),
        {{Kind::Allocation, 1}, {Kind::Open, 2}});

  // The native link with a report: GetPictureInfo looks for the fourth plane too (open 3).
  IgnoredReport report;
  const LinkedCall reported{nullptr, &report};
  EXPECT_EQ(sweep("reported GetPicture", linkedPicture<Gradec>(byName, reported),
                  {{Kind::Allocation, 1}, {Kind::Open, 2}, {Kind::Open, 3}})
                .opens,
            3);
  EXPECT_EQ(sweep("reported GetPictureInfo", linkedPictureInfo<Gradec>(byName, reported),
                  {{Kind::Allocation, 1}, {Kind::Open, 2}, {Kind::Open, 3}})
                .opens,
            3);
}

// The picture and its companions in memory: nothing is opened, and the pixels are those of the
// decode by name with the companion files beside it.
TEST(FaultSweep, GraFromMemoryWithHeldCompanions) {
  const GraFiles files = sweptGraFiles();
  TempDir dir;
  const std::string path = dir.write("pic.gra", files.picture);
  dir.write("pic.rgb", files.palette);
  dir.write("pic.e1", files.fourthPlane);
  HGLOBAL info = 0, pixels = 0;
  ASSERT_EQ(Gradec::getPicture(path.c_str(), 0, kSourceIsFileName, &info, &pixels, nullptr, 0),
            LoaderResult::Ok);
  const host_contract::HandedPicture byName =
      standInContract().afterPicture("GetPicture", LoaderResult::Ok, info, pixels, kUntouched);

  const std::vector<HeldCompanion> items{
      {"pic.rgb", files.palette.data(), static_cast<std::int32_t>(files.palette.size())},
      {"pic.e1", files.fourthPlane.data(), static_cast<std::int32_t>(files.fourthPlane.size())}};
  const HeldCompanions held{items.data(), static_cast<std::int32_t>(items.size())};
  IgnoredReport report;
  const LinkedCall linked{&held, &report};
  const Source fromMemory{reinterpret_cast<const char*>(files.picture.data()),
                          static_cast<std::int32_t>(files.picture.size()), kSourceIsMemory};
  const auto made =
      sweep("GetPicture from memory", linkedPicture<Gradec>(fromMemory, linked, byName.pixels), {});
  EXPECT_EQ(made.opens, 0);
  EXPECT_GT(made.allocations, 0);
  EXPECT_EQ(
      sweep("GetPictureInfo from memory", linkedPictureInfo<Gradec>(fromMemory, linked), {}).opens,
      0);
}

TEST(FaultSweep, QOfEightAndSixteenColoursWithCommentsByNameAndFromMemory) {
  for (bool eightColors : {true, false}) {
    auto picture = std::make_unique<QPicture>();
    picture->eightColors = eightColors;
    for (int y = 0; y < kPictureHeight; ++y) {
      for (int x = 0; x < kPictureWidth; ++x) {
        picture->pixels[y * kPictureWidth + x] =
            static_cast<std::uint8_t>(pixelAt(x, y) & (eightColors ? 7 : 15));
      }
    }
    for (int k = 0; k < kPaletteEntries; ++k) {
      picture->palette[k] =
          Color4{static_cast<std::uint8_t>(k), 3, static_cast<std::uint8_t>(15 - k)};
    }
    picture->comment = eightColors ? "Eight colours" : "Sixteen colours";
    const Bytes file = writeQ(*picture).picture;
    TempDir dir;
    const std::string path = dir.write("pic.q", file);
    const Source byName{path.c_str(), 0, kSourceIsFileName};
    const Source fromMemory{reinterpret_cast<const char*>(file.data()),
                            static_cast<std::int32_t>(file.size()), kSourceIsMemory};
    const std::string colours = eightColors ? "8 colours, " : "16 colours, ";

    // By name, allocation 1 is the copy of the name, which a Q picture does not need.
    sweep(colours + "GetPicture by name", getPicture<Qdec>(byName), {{Kind::Allocation, 1}});
    sweep(colours + "GetPictureInfo by name", getPictureInfo<Qdec>(byName, true),
          {{Kind::Allocation, 1}});
    const auto made = sweep(colours + "GetPicture from memory", getPicture<Qdec>(fromMemory), {});
    EXPECT_GT(made.allocations, 0);
    EXPECT_GT(made.locks, 0);
    sweep(colours + "GetPictureInfo from memory", getPictureInfo<Qdec>(fromMemory, true), {});
  }
}

}  // namespace
