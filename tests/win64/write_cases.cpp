// SPDX-License-Identifier: MIT
// The native half of the differential run of the 64-bit DLLs (see case_file.h): makes the
// cases, makes every call of each through the native build and writes FOLDER/cases.bin, with
// the pictures that are opened by name (and their companion files) beside it.
//
//   write_cases FOLDER
//
// The cases, for each plug-in: the writers' pictures from memory and by name; pseudo-random
// inputs shaped like the format and the same cut short, from memory; random pictures by name
// (GRA ones with companion files of right and wrong sizes); and pictures cancelled at each
// progress call in turn. Every picture call passes a user value above 4 GiB.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "gra/gra_loader.h"
#include "q/q_loader.h"
#include "tests/emulated/native_host.h"
#include "tests/emulated/picture_inputs.h"
#include "tests/emulated/plugin_inputs.h"
#include "tests/win64/case_file.h"

static_assert(sizeof(HostValue) == 8, "the cases carry 64-bit user values");

namespace {

constexpr int kRandomInputs = 120;
constexpr int kFileInputs = 24;
constexpr int kCancelledInputs = 3;

using cases::Call;
using cases::CallKind;
using cases::Case;
using cases::Progress;

struct Gradec : GradecInputs {
  static constexpr cases::Plugin kPlugin = cases::Plugin::Gradec;
};

struct Qdec : QdecInputs {
  static constexpr cases::Plugin kPlugin = cases::Plugin::Qdec;
};

Call makeCall(CallKind kind, std::int32_t progress = static_cast<std::int32_t>(Progress::None),
              std::uint64_t userData = 0) {
  Call call;
  call.kind = kind;
  call.progress = progress;
  call.userData = userData;
  return call;
}

bool save(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

template <class Format>
class CaseMaker {
 public:
  CaseMaker(const std::string& folder, cases::Writer& writer) : folder_(folder), writer_(writer) {}

  bool failed() const { return failed_; }

  void makeAll() {
    for (const PictureCase& c : Format::writerCases()) {
      fromMemory(c, Progress::GoOn);
      byName(c);
    }
    for (const PictureCase& c : Format::randomCases(kRandomInputs, 21))
      fromMemory(c, Progress::GoOn);
    for (const PictureCase& c : truncated(Format::randomCases(kRandomInputs, 22), 23))
      fromMemory(c, Progress::None);
    for (const PictureCase& c : Format::fileCases(kFileInputs, 24)) byName(c);
    cancelled();
  }

 private:
  using Native = NativeHost<typename Format::Loader>;

  // A fresh user value for each picture call, above 4 GiB.
  std::uint64_t nextUserData() { return 0xFEDCBA9800000000u + ++calls_ * 0x101; }

  Case start(const PictureCase& c, const std::string& how) const {
    Case out;
    out.label = c.label + ", " + how;
    out.plugin = Format::kPlugin;
    out.file = c.file;
    return out;
  }

  void pictureCalls(Case& out, Progress progress) {
    const PictureSource source = out.source(folder_);
    Call picture = makeCall(CallKind::Picture, static_cast<std::int32_t>(progress), nextUserData());
    picture.picture =
        Native::getPicture(source, cases::progressScript(picture.progress), picture.userData);
    out.calls.push_back(picture);
    Call info = makeCall(CallKind::Info);
    info.info = Native::getPictureInfo(source);
    out.calls.push_back(info);
    Call preview =
        makeCall(CallKind::Preview, static_cast<std::int32_t>(Progress::GoOn), nextUserData());
    preview.picture =
        Native::getPreview(source, cases::progressScript(preview.progress), preview.userData);
    out.calls.push_back(preview);
  }

  void fromMemory(const PictureCase& c, Progress progress) {
    Case out = start(c, "from memory");
    pictureCalls(out, progress);
    for (const std::string& name :
         {std::string("picture.") + Format::kExtension,
          std::string("PICTURE.") + Format::kExtension, std::string("picture.bmp")}) {
      Call supported = makeCall(CallKind::Supported);
      supported.name = name;
      supported.supported = Native::isSupported(name, c.file);
      out.calls.push_back(supported);
    }
    finish(out);
  }

  // The picture and its companions as files in the case folder, read by name.
  void byName(const PictureCase& c) {
    Case out = start(c, "by name");
    out.byName = true;
    const std::string stem = std::string(Format::kExtension) + "-" + std::to_string(++files_);
    out.fileName = stem + "." + Format::kExtension;
    bool saved = save(folder_ + "/" + out.fileName, c.file);
    if (c.palette) saved = saved && save(folder_ + "/" + stem + ".rgb", *c.palette);
    if (c.fourthPlane) saved = saved && save(folder_ + "/" + stem + ".e1", *c.fourthPlane);
    if (!saved) {
      std::cerr << "cannot write the files of " << out.label << " in " << folder_ << "\n";
      failed_ = true;
      return;
    }
    pictureCalls(out, Progress::GoOn);

    Call supported = makeCall(CallKind::SupportedByHandle);
    supported.name = out.fileName;
    const std::string path = folder_ + "/" + out.fileName;
    const HFILE file = _lopen(path.c_str(), OF_READ);
    supported.supported = Native::isSupportedWithValue(out.fileName, static_cast<HostValue>(file));
    supported.position = _llseek(file, 0, FILE_CURRENT);
    _lclose(file);
    out.calls.push_back(supported);
    finish(out);
  }

  // Pictures that decode, cancelled at each progress call in turn and at every call.
  void cancelled() {
    auto inputs = Format::writerCases();
    for (PictureCase& c : Format::randomCases(kRandomInputs, 21)) inputs.push_back(std::move(c));
    int made = 0;
    for (const PictureCase& c : inputs) {
      if (made == kCancelledInputs) break;
      const PictureSource source = PictureSource::memory(c.file);
      const PictureOutcome full =
          Native::getPicture(source, cases::progressScript(static_cast<int>(Progress::GoOn)));
      if (full.result != LoaderResult::Ok) continue;
      ++made;
      const int progressCalls = static_cast<int>(full.progress.size());
      Case out = start(c, "cancelled at each progress call");
      for (int k = -1; k < progressCalls; ++k) {
        Call picture =
            makeCall(CallKind::Picture, k < 0 ? static_cast<std::int32_t>(Progress::StopAlways) : k,
                     nextUserData());
        picture.picture =
            Native::getPicture(source, cases::progressScript(picture.progress), picture.userData);
        out.calls.push_back(picture);
      }
      finish(out);
    }
  }

  void finish(const Case& out) {
    const platform::Usage u = platform::usage();
    if (u.liveGlobalBlocks || u.lockedGlobalBlocks || u.liveHeapBlocks || u.openFiles) {
      std::cerr << out.label << ": the native build still holds something\n";
      failed_ = true;
    }
    writer_.write(out);
  }

  std::string folder_;
  cases::Writer& writer_;
  bool failed_ = false;
  std::uint64_t calls_ = 0;
  int files_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: write_cases FOLDER\n";
    return 2;
  }
  const std::string folder = argv[1];
  const std::string path = folder + "/cases.bin";
  std::ofstream out(path, std::ios::binary);
  cases::Writer writer(out);
  CaseMaker<Gradec> gradec(folder, writer);
  gradec.makeAll();
  CaseMaker<Qdec> qdec(folder, writer);
  qdec.makeAll();
  out.close();
  if (!out) {
    std::cerr << "cannot write " << path << "\n";
    return 1;
  }
  return gradec.failed() || qdec.failed() ? 1 : 0;
}
