// Every allocation, lock and open of whole GetPicture and GetPictureInfo calls failing in turn,
// for both plug-ins: a GRA picture by name with its palette and fourth-plane files, and Q
// pictures of 8 and 16 colours with comments, by name and from memory. Each failure must give
// its own code, or Ok where the plug-in does without what failed (the copy of the name, a
// companion file); must hand the host nothing on failure; and must leave nothing behind.
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "gra/writer/gra_writer.h"
#include "q/q_loader.h"
#include "q/writer/q_writer.h"
#include "tests/support/test_support.h"

namespace {

using Gradec = PluginExports<GraLoader>;
using Qdec = PluginExports<QLoader>;

constexpr HGLOBAL kUntouched = 0x5A5A5A5A;

enum class Kind { Allocation, Lock, Open };

platform::FaultPlan failing(Kind kind, int n) {
  switch (kind) {
    case Kind::Allocation:
      return {.failAllocation = n};
    case Kind::Lock:
      return {.failLock = n};
    case Kind::Open:
      return {.failOpen = n};
  }
  return {};
}

LoaderResult codeOf(Kind kind) {
  switch (kind) {
    case Kind::Allocation:
      return LoaderResult::NoMemory;
    case Kind::Lock:
      return LoaderResult::LockFailed;
    case Kind::Open:
      return LoaderResult::OpenFailed;
  }
  return LoaderResult::Ok;
}

int countOf(Kind kind, const platform::OperationCounts& counts) {
  return kind == Kind::Allocation ? counts.allocations
         : kind == Kind::Lock     ? counts.locks
                                  : counts.opens;
}

// Where a picture comes from, as the host passes it.
struct Source {
  const char* text;
  std::int32_t length;
  std::uint32_t flags;
};

// One export call. Checks what the host is handed (on Ok: the blocks, unlocked, and frees
// them; otherwise: nothing) and answers the call's result. made receives the operations of the
// export alone; the fault plan ends with the export, before the checks lock anything.
using Call = std::function<LoaderResult(platform::OperationCounts& made)>;

platform::OperationCounts endOfExport() {
  const platform::OperationCounts made = platform::operationCounts();
  platform::setFaultPlan({});
  return made;
}

template <class Exports>
Call getPicture(Source s) {
  return [s](platform::OperationCounts& made) {
    HGLOBAL info = kUntouched, pixels = kUntouched;
    const LoaderResult r =
        Exports::getPicture(s.text, s.length, s.flags, &info, &pixels, nullptr, 0);
    made = endOfExport();
    if (r != LoaderResult::Ok) {
      EXPECT_EQ(info, kUntouched);
      EXPECT_EQ(pixels, kUntouched);
      return r;
    }
    EXPECT_EQ(platform::usage().lockedGlobalBlocks, 0);
    EXPECT_EQ(takeBlock(info).size(), static_cast<std::size_t>(kInfoBlockSize));
    EXPECT_EQ(takeBlock(pixels).size(), static_cast<std::size_t>(kPixelBlockSize));
    return r;
  };
}

template <class Exports>
Call getPictureInfo(Source s, bool hasComment) {
  return [s, hasComment](platform::OperationCounts& made) {
    PictureInfoRecord record;
    std::memset(&record, 0x5A, sizeof record);
    const LoaderResult r = Exports::getPictureInfo(s.text, s.length, s.flags, &record);
    made = endOfExport();
    const HGLOBAL text = record.textHandle;
    if (r != LoaderResult::Ok) {
      // Only the comment's block can fail after the record is filled, and it is not handed over.
      EXPECT_TRUE(text == kUntouched || text == 0) << text;
      return r;
    }
    EXPECT_EQ(text != 0, hasComment);
    if (text) {
      EXPECT_EQ(platform::usage().lockedGlobalBlocks, 0);
      takeBlock(text);
    }
    return r;
  };
}

// Runs call once to count what it does, then once for each of those operations failing.
// absorbed lists the failures after which the call still succeeds.
void sweep(const std::string& what, const Call& call, std::set<std::pair<Kind, int>> absorbed) {
  SCOPED_TRACE(what);
  platform::setFaultPlan({});
  platform::OperationCounts counts;
  ASSERT_EQ(call(counts), LoaderResult::Ok);
  expectNothingHeld();
  EXPECT_GT(counts.allocations, 0);
  for (Kind kind : {Kind::Allocation, Kind::Lock, Kind::Open}) {
    for (int n = 1; n <= countOf(kind, counts); ++n) {
      platform::setFaultPlan(failing(kind, n));
      platform::OperationCounts made;
      const LoaderResult r = call(made);
      const bool absorb = absorbed.erase({kind, n}) > 0;
      // A failure that is not absorbed is the last operation of its kind.
      if (absorb) {
        EXPECT_GE(countOf(kind, made), n);
      } else {
        EXPECT_EQ(countOf(kind, made), n);
      }
      EXPECT_EQ(r, absorb ? LoaderResult::Ok : codeOf(kind))
          << resultName(codeOf(kind)) << " at operation " << n;
      expectNothingHeld();
    }
  }
  EXPECT_TRUE(absorbed.empty()) << "a failure expected to be absorbed was never made";
}

// A picture of all 16 values: bars, and a checkerboard on the lower half.
int pixelAt(int x, int y) {
  return y < kPictureHeight / 2 ? (x / 40) & 15 : ((x / 8 + y / 8) % 2) * 9 + (y / 50) % 7;
}

TEST(FaultSweep, GraByNameWithPaletteAndFourthPlane) {
  auto picture = std::make_unique<GraPicture>();
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) picture->at(x, y) = pixelAt(x, y);
  }
  picture->colors[0] = GraColor{1, 2, 3};
  const GraFiles files = writeGra(*picture);
  TempDir dir;
  const std::string path = dir.write("pic.gra", files.picture);
  dir.write("pic.rgb", files.palette);
  dir.write("pic.e1", files.fourthPlane);
  const Source byName{path.c_str(), 0, kSourceIsFileName};

  // Allocation 1 is the copy of the name, without which no companion is looked for; opens 2
  // and 3 are the companions.
  sweep("GetPicture", getPicture<Gradec>(byName),
        {{Kind::Allocation, 1}, {Kind::Open, 2}, {Kind::Open, 3}});
  sweep("GetPictureInfo", getPictureInfo<Gradec>(byName, false),
        {{Kind::Allocation, 1}, {Kind::Open, 2}});
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
          QColor{static_cast<std::uint8_t>(k), 3, static_cast<std::uint8_t>(15 - k)};
    }
    picture->comment = eightColors ? "Eight colours" : "Sixteen colours";
    const Bytes file = writeQFile(*picture);
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
    sweep(colours + "GetPicture from memory", getPicture<Qdec>(fromMemory), {});
    sweep(colours + "GetPictureInfo from memory", getPictureInfo<Qdec>(fromMemory, true), {});
  }
}

}  // namespace
