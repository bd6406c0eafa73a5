// SPDX-License-Identifier: MIT
// The DLLs against the native build: for many inputs, the emulated gradec.spi and qdec.spi must
// give the host exactly what PluginExports<GraLoader> and PluginExports<QLoader> give it: the
// result codes, the information and pixel blocks, the picture-information record with its text
// block, IsSupported's answers and the progress calls, cancelling included, from memory and
// from files (with the companion files of GRA pictures), and on failed allocations, locks and
// opens. Both sides must also hold nothing afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "framework/plugin_exports.h"
#include "gra/gra_loader.h"
#include "q/q_loader.h"
#include "tests/emulated/native_host.h"
#include "tests/emulated/picture_inputs.h"
#include "tests/emulated/plugin_files.h"
#include "tests/emulated/plugin_inputs.h"
#include "tests/support/test_support.h"

namespace {

// Emulation runs some hundred times slower than native code: these counts keep the whole
// comparison to seconds.
constexpr int kRandomInputs = 80;
constexpr int kFileInputs = 16;
constexpr int kCancelledInputs = 2;

struct Gradec : GradecInputs {
  static constexpr const char* kDll = "gradec.spi";
};

struct Qdec : QdecInputs {
  static constexpr const char* kDll = "qdec.spi";
};

// A script that answers 0 to every call but the one numbered cancelAt.
ProgressScript cancelAtCall(int cancelAt) {
  return [cancelAt](int index, const ProgressCall&) { return index == cancelAt ? 1 : 0; };
}
const ProgressScript kGoOn = [](int, const ProgressCall&) { return 0; };
const ProgressScript kStopAlways = [](int, const ProgressCall&) { return -1; };

template <class Format>
class AgainstNative : public ::testing::Test {
 protected:
  using Native = NativeHost<typename Format::Loader>;

  // One emulated process serves a whole suite; it is loaded afresh after a failed test.
  void SetUp() override {
    if (!plugin) {
      LoadedDllForSuite loader;
      loader.loadInto(Format::kDll, plugin);
      if (IsSkipped()) return;
    }
    ASSERT_TRUE(plugin);
    platform::setFaultPlan({});
  }
  void TearDown() override {
    if (HasFailure()) plugin.reset();
  }

  std::string pictureName() const { return std::string("picture.") + Format::kExtension; }

  void expectBothHoldNothing(const std::string& label, host_contract::Site where = {}) {
    emulatedContract(*plugin).nothingHeld(label + ", the emulated DLL", where);
    standInContract().nothingHeld(label + ", the native build", where);
  }

  // GetPicture on both sides; answers the native outcome.
  PictureOutcome comparePicture(const std::string& label, const PictureSource& source,
                                const ProgressScript& progress, std::uint32_t userData) {
    const PictureOutcome emulated = plugin->getPicture(source, progress, userData);
    const PictureOutcome native = Native::getPicture(source, progress, userData);
    EXPECT_EQ(difference(emulated, native), "") << label;
    EXPECT_EQ(emulated.contractFailures, "") << label;
    expectBothHoldNothing(label);
    return native;
  }

  void compareInfoAndPreview(const std::string& label, const PictureSource& source) {
    const PictureInfoOutcome emulated = plugin->getPictureInfo(source);
    const PictureInfoOutcome native = Native::getPictureInfo(source);
    EXPECT_EQ(difference(emulated, native), "") << label;
    EXPECT_EQ(emulated.contractFailures, "") << label;
    const PictureOutcome preview = plugin->getPreview(source, kGoOn, 7);
    EXPECT_EQ(difference(preview, Native::getPreview(source, kGoOn, 7)), "") << label;
    EXPECT_EQ(preview.contractFailures, "") << label;
    expectBothHoldNothing(label);
  }

  void compareRecognition(const std::string& label, const Bytes& file) {
    for (const std::string& name : {pictureName(), std::string("PICTURE.") + Format::kExtension,
                                    std::string("picture.bmp")}) {
      EXPECT_EQ(plugin->isSupported(name, file), Native::isSupported(name, file))
          << label << ", named " << name;
    }
  }

  static inline std::unique_ptr<EmulatedPlugin> plugin;

 private:
  struct LoadedDllForSuite : LoadedDll {
    void loadInto(const char* file, std::unique_ptr<EmulatedPlugin>& out) {
      load(file);
      out = std::move(LoadedDll::plugin);
    }
  };
};

using Formats = ::testing::Types<Gradec, Qdec>;
class FormatNames {
 public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, Gradec> ? "gradec" : "qdec";
  }
};
TYPED_TEST_SUITE(AgainstNative, Formats, FormatNames);

TYPED_TEST(AgainstNative, RandomInputsDecodeAlikeFromMemory) {
  const auto cases = TypeParam::randomCases(kRandomInputs, 1);
  std::uint32_t userData = 0x1000;
  for (const PictureCase& c : cases) {
    const PictureSource source = PictureSource::memory(c.file);
    this->comparePicture(c.label, source, kGoOn, ++userData);
    this->compareInfoAndPreview(c.label, source);
    this->compareRecognition(c.label, c.file);
  }
}

TYPED_TEST(AgainstNative, TruncatedInputsFailAlike) {
  const auto cases = truncated(TypeParam::randomCases(kRandomInputs, 2), 3);
  for (const PictureCase& c : cases) {
    const PictureSource source = PictureSource::memory(c.file);
    this->comparePicture(c.label, source, {}, 0);
    this->compareInfoAndPreview(c.label, source);
    this->compareRecognition(c.label, c.file);
  }
}

// By name, with the companion files beside GRA pictures, and recognised through a file handle.
TYPED_TEST(AgainstNative, FilesNamedByTheHostDecodeAlike) {
  auto cases = TypeParam::fileCases(kFileInputs, 4);
  for (PictureCase& c : TypeParam::writerCases()) cases.push_back(std::move(c));
  for (const PictureCase& c : cases) {
    TempDir folder;
    const std::string path = folder.write(this->pictureName(), c.file);
    if (c.palette) folder.write("picture.rgb", *c.palette);
    if (c.fourthPlane) folder.write("picture.e1", *c.fourthPlane);
    this->comparePicture(c.label, PictureSource::fileName(path), kGoOn, 1);
    this->compareInfoAndPreview(c.label, PictureSource::fileName(path));

    const std::uint32_t emulatedFile = this->plugin->openFile(path);
    const HFILE nativeFile = _lopen(path.c_str(), OF_READ);
    ASSERT_GE(nativeFile, 0);
    EXPECT_EQ(this->plugin->isSupportedWithValue(this->pictureName(), emulatedFile),
              TestFixture::Native::isSupportedWithValue(this->pictureName(),
                                                        static_cast<HostValue>(nativeFile)))
        << c.label;
    EXPECT_EQ(this->plugin->filePosition(emulatedFile), _llseek(nativeFile, 0, FILE_CURRENT))
        << c.label << ": the host's file was left at another position";
    this->plugin->closeFile(emulatedFile);
    _lclose(nativeFile);
    this->expectBothHoldNothing(c.label);
  }
}

TYPED_TEST(AgainstNative, WriterPicturesDecodeAlike) {
  const auto cases = TypeParam::writerCases();
  for (const PictureCase& c : cases) {
    const PictureOutcome native =
        this->comparePicture(c.label, PictureSource::memory(c.file), kGoOn, 3);
    EXPECT_EQ(native.result, LoaderResult::Ok) << c.label;
    this->compareInfoAndPreview(c.label, PictureSource::memory(c.file));
    this->compareRecognition(c.label, c.file);
  }
}

// Cancelling at each progress call in turn, and at every call.
TYPED_TEST(AgainstNative, CancellingAtAnyProgressCallEndsAlike) {
  auto cases = TypeParam::writerCases();
  for (PictureCase& c : TypeParam::randomCases(kRandomInputs, 1)) cases.push_back(std::move(c));
  int decoded = 0;
  for (const PictureCase& c : cases) {
    if (decoded == kCancelledInputs) break;
    const PictureSource source = PictureSource::memory(c.file);
    const PictureOutcome full = TestFixture::Native::getPicture(source, kGoOn, 9);
    if (full.result != LoaderResult::Ok) continue;
    ++decoded;
    for (int k = 0; k < static_cast<int>(full.progress.size()); ++k)
      this->comparePicture(c.label + ", cancelled at call " + std::to_string(k), source,
                           cancelAtCall(k), 9);
    this->comparePicture(c.label + ", cancelled at every call", source, kStopAlways, 9);
  }
}

// Each allocation, lock and open that the native build makes, failed in turn on both sides.
TYPED_TEST(AgainstNative, FailedAllocationsLocksAndOpensEndAlike) {
  auto cases = TypeParam::writerCases();
  for (PictureCase& c : TypeParam::fileCases(kFileInputs, 4)) cases.push_back(std::move(c));
  const auto chosen = std::find_if(cases.begin(), cases.end(), [](const PictureCase& c) {
    return TestFixture::Native::getPicture(PictureSource::memory(c.file)).result ==
           LoaderResult::Ok;
  });
  const PictureCase& c = chosen != cases.end() ? *chosen : cases.front();
  TempDir folder;
  const std::string path = folder.write(this->pictureName(), c.file);
  if (c.palette) folder.write("picture.rgb", *c.palette);
  if (c.fourthPlane) folder.write("picture.e1", *c.fourthPlane);
  const PictureSource source = PictureSource::fileName(path);

  TestFixture::Native::getPicture(source, kGoOn);
  platform::OperationCounts counts = TestFixture::Native::lastOperationCounts;
  TestFixture::Native::getPictureInfo(source);
  const platform::OperationCounts infoCounts = TestFixture::Native::lastOperationCounts;
  counts = {std::max(counts.allocations, infoCounts.allocations),
            std::max(counts.locks, infoCounts.locks), std::max(counts.opens, infoCounts.opens)};
  const std::vector<std::pair<std::string, int>> kinds = {
      {"allocation", counts.allocations}, {"lock", counts.locks}, {"open", counts.opens}};
  for (const auto& [kind, count] : kinds) {
    for (int n = 1; n <= count; ++n) {
      const FaultPlan plan{kind == "allocation" ? n : 0, kind == "lock" ? n : 0,
                           kind == "open" ? n : 0};
      const std::string label = c.label + ", failing " + kind + " " + std::to_string(n);
      const platform::FaultPlan nativePlan{plan.failAllocation, plan.failLock, plan.failOpen};
      this->plugin->setFaultPlan(plan);
      platform::setFaultPlan(nativePlan);
      const PictureOutcome emulated = this->plugin->getPicture(source, kGoOn);
      const PictureOutcome native = TestFixture::Native::getPicture(source, kGoOn);
      EXPECT_EQ(difference(emulated, native), "") << label;
      EXPECT_EQ(emulated.contractFailures, "") << label;
      this->plugin->setFaultPlan(plan);
      platform::setFaultPlan(nativePlan);
      const PictureInfoOutcome emulatedInfo = this->plugin->getPictureInfo(source);
      EXPECT_EQ(difference(emulatedInfo, TestFixture::Native::getPictureInfo(source)), "") << label;
      EXPECT_EQ(emulatedInfo.contractFailures, "") << label;
      this->expectBothHoldNothing(label);
    }
  }
  this->plugin->setFaultPlan({});
  platform::setFaultPlan({});
}

// Every information number near the string table, with buffers of every length, and without
// one.
TYPED_TEST(AgainstNative, GetPluginInfoAnswersAlike) {
  for (int n : {-1025, -960, -959, -1, 0, 1, 2, 3, 4, 5, 15, 16}) {
    for (int length : {-5, 0, 1, 2, 5, 10, 80}) {
      for (bool withBuffer : {true, false}) {
        char emulated[80], native[80];
        std::fill(std::begin(emulated), std::end(emulated), '#');
        std::fill(std::begin(native), std::end(native), '#');
        const int emulatedAnswer =
            this->plugin->getPluginInfo(n, withBuffer ? emulated : nullptr, length);
        const int nativeAnswer = PluginExports<typename TypeParam::Loader>::getPluginInfo(
            n, withBuffer ? native : nullptr, length);
        EXPECT_EQ(emulatedAnswer, nativeAnswer) << "number " << n << ", length " << length;
        EXPECT_EQ(std::string(emulated, 80), std::string(native, 80))
            << "number " << n << ", length " << length;
      }
    }
  }
}

}  // namespace
