// SPDX-License-Identifier: MIT
// A host for fuzzing one plug-in: it drives the plug-in's exports as a viewer does, steered by
// the last bytes of the input, and checks after every call what the plug-in promises a host.
//
// The input is a picture file followed by kSteeringBytes bytes that choose:
//   byte 0  bit 0     the picture is read from memory (0) or by name from a file (1)
//           bits 1-2  the name: own extension, own extension in capitals, none, other format's
//           bits 3-4  the "rgb" file beside it: none, right size, one byte short, one byte long
//           bits 5-6  the "e1" file beside it, likewise
//           bit 7     IsSupported gets the first bytes as a block (0) or a host file handle (1)
//   byte 1            the progress function: 0 none, 1 always goes on, 2 always stops,
//                     n >= 3 stops at its (n - 2)th call only
//   byte 2            the companions' contents; GetPluginInfo's number and buffer length
//   byte 3  bits 6-7  a failure: none, the n-th allocation, lock or open of each call
//           bits 0-5  n - 1
// A picture read by name is read once more from memory through the native link, with the
// companion files beside it handed over as held companions: both must decode alike.
// After every call the host checks the host contract (tests/support/host_contract.h) and what
// else it knows of the picture. Any failed check aborts, which the fuzzer reports as a crash
// with its input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/companion_rule.h"
#include "framework/little_endian.h"
#include "framework/picture_geometry.h"
#include "framework/plugin_exports.h"
#include "tests/support/host_contract.h"
#include "tests/support/stand_in_blocks.h"

namespace fuzzhost {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] inline void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: host check failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}
#define HOST_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzzhost::fail(#condition, __FILE__, __LINE__))

// The host contract over the platform stand-in; a broken promise aborts.
struct AbortReport {
  void operator()(std::string_view message, host_contract::Site where) const {
    fail(std::string(message).c_str(), where.file, where.line);
  }
};
inline host_contract::Checker<StandInBlocks, AbortReport> contract() {
  return {StandInBlocks{}, AbortReport{}};
}

// What differs between the two plug-ins, as far as a host can tell.
struct PluginFacts {
  const char* extension;       // without the dot
  const char* otherExtension;  // the other plug-in's
  bool hasText;                // GetPictureInfo may hand over a text block
  // The largest pixel value a decoded picture may hold, given the file and whether a fourth
  // plane of the right size lies beside it.
  int (*largestPixelValue)(const Bytes& file, bool fourthPlaneBeside);
};

constexpr std::size_t kSteeringBytes = 4;
constexpr int kPaletteFileSize = 48;
constexpr int kFourthPlaneFileSize = 32000;
constexpr HGLOBAL kUntouched = 0x5A5A5A5A;  // never a handle of the platform layer

enum Companion { None, RightSize, OneShort, OneLong };

struct Steering {
  bool byName = false;
  int nameForm = 0;
  Companion palette = None;
  Companion fourthPlane = None;
  bool recogniseByHandle = false;
  int progressScript = 0;
  std::uint8_t seed = 0;
  platform::FaultPlan faults;
  bool anyFault() const { return faults.failAllocation || faults.failLock || faults.failOpen; }
};

inline Steering steer(const std::uint8_t* tail) {
  Steering s;
  s.byName = tail[0] & 1;
  s.nameForm = tail[0] >> 1 & 3;
  s.palette = static_cast<Companion>(tail[0] >> 3 & 3);
  s.fourthPlane = static_cast<Companion>(tail[0] >> 5 & 3);
  s.recogniseByHandle = tail[0] >> 7;
  s.progressScript = tail[1];
  s.seed = tail[2];
  const int n = (tail[3] & 0x3F) + 1;
  switch (tail[3] >> 6) {
    case 1:
      s.faults.failAllocation = n;
      break;
    case 2:
      s.faults.failLock = n;
      break;
    case 3:
      s.faults.failOpen = n;
      break;
  }
  return s;
}

// A folder of its own for the files of this process, removed at exit.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "planefuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fail("cannot make a scratch folder", __FILE__, __LINE__);
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline const std::filesystem::path& scratchFolder() {
  static const ScratchFolder folder;
  return folder.path();
}

inline void writeFile(const std::filesystem::path& path, const std::uint8_t* data,
                      std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) fail("cannot write a scratch file", __FILE__, __LINE__);
}

// The files of the scratch folder, rewritten only when an input asks for others: writing a
// 32000-byte fourth plane for every input would slow the fuzzer down for nothing.
class ScratchFiles {
 public:
  // Makes the picture file the only one of its folder by its name, or removes it.
  void placePicture(const std::string& name, const Bytes& file, bool wanted) {
    if (!wanted || name != pictureName_) remove(pictureName_);
    pictureName_ = wanted ? name : std::string();
    if (wanted) writeFile(name, file.data(), file.size());
  }
  // Writes or removes a companion file of the chosen size and contents.
  void placeCompanion(const char* extension, Companion kind, int rightSize, std::uint8_t seed) {
    const std::string path = (scratchFolder() / "p.").string() + extension;
    const int size = kind == None       ? -1
                     : kind == OneShort ? rightSize - 1
                     : kind == OneLong  ? rightSize + 1
                                        : rightSize;
    auto& placed = extension[0] == 'r' ? palette_ : fourthPlane_;
    if (placed.size == size && (size < 0 || placed.seed == seed)) return;
    placed = {size, seed};
    remove(path);
    if (size < 0) return;
    Bytes bytes(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * (seed | 1));
    writeFile(path, bytes.data(), bytes.size());
  }

 private:
  static void remove(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove(path, ignored);
  }
  struct Placed {
    int size = -1;  // -1: none
    std::uint8_t seed = 0;
  };
  std::string pictureName_;
  Placed palette_, fourthPlane_;
};

// The progress function and what it has seen.
struct ProgressScript {
  int script = 0;
  int calls = 0;
  int lastDone = -1;
  bool stopped = false;  // answered non-zero at least once
};

inline int WINAPI progressFunction(int done, int total, HostValue userData) {
  auto* p = reinterpret_cast<ProgressScript*>(userData);
  HOST_CHECK(total == kPictureHeight);
  HOST_CHECK(done >= 0 && done <= total);
  HOST_CHECK(done >= p->lastDone);
  p->lastDone = done;
  ++p->calls;
  const bool stop = p->script == 2 || (p->script >= 3 && p->calls == p->script - 2);
  p->stopped |= stop;
  return stop ? p->calls : 0;
}

struct Decoded {
  LoaderResult result;
  Bytes info, pixels;
};

// One host session with one input.
template <class Loader>
class Host {
 public:
  using Exports = PluginExports<Loader>;

  Host(const PluginFacts& facts, const std::uint8_t* data, std::size_t size) : facts_(facts) {
    std::uint8_t tail[kSteeringBytes] = {};
    const std::size_t fileSize = size > kSteeringBytes ? size - kSteeringBytes : 0;
    if (size > fileSize) std::memcpy(tail, data + fileSize, size - fileSize);
    steering_ = steer(tail);
    if (fileSize) file_.assign(data, data + fileSize);
  }

  void run() {
    contract().nothingHeld("before the first call");
    const auto& folder = scratchFolder();
    const char* extensions[] = {facts_.extension, facts_.extension, "", facts_.otherExtension};
    std::string extension = extensions[steering_.nameForm];
    if (steering_.nameForm == 1) {
      for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    name_ = (folder / "p").string() + (extension.empty() ? "" : "." + extension);
    // Companions lie beside a picture read by name only.
    static ScratchFiles files;
    files.placePicture(name_, file_, steering_.byName || steering_.recogniseByHandle);
    files.placeCompanion("rgb", steering_.byName ? steering_.palette : None, kPaletteFileSize,
                         steering_.seed);
    files.placeCompanion("e1", steering_.byName ? steering_.fourthPlane : None,
                         kFourthPlaneFileSize, steering_.seed);

    pluginInfo();
    recognise();
    pictureInfo();
    Decoded decoded = picture(steering_.byName);
    if (decoded.result == LoaderResult::Ok && steering_.byName && !steering_.anyFault()) {
      const Decoded held = pictureWithHeldCompanions();
      HOST_CHECK(held.result == LoaderResult::Ok);
      HOST_CHECK(held.info == decoded.info && held.pixels == decoded.pixels);
    }
    preview();
    unknownSourceKind();
    // Without a usable companion, the picture by name is the picture from memory.
    if (decoded.result == LoaderResult::Ok && steering_.byName && !steering_.anyFault() &&
        steering_.palette != RightSize && steering_.fourthPlane != RightSize) {
      Decoded fromMemory = picture(false);
      HOST_CHECK(fromMemory.result == LoaderResult::Ok);
      HOST_CHECK(fromMemory.info == decoded.info && fromMemory.pixels == decoded.pixels);
    }
  }

 private:
  // The fault plan holds for the plug-in's call only, never for the host's own checks.
  template <class Call>
  auto underFaults(Call call) {
    platform::setFaultPlan(steering_.faults);
    auto answer = call();
    platform::setFaultPlan({});
    return answer;
  }

  // Whether a failure code is one the chosen fault or the call's source can explain.
  bool explained(LoaderResult r, bool byName) const {
    switch (r) {
      case LoaderResult::BadData:
        return true;
      case LoaderResult::NoMemory:
        return steering_.faults.failAllocation > 0;
      case LoaderResult::LockFailed:
        return steering_.faults.failLock > 0;
      case LoaderResult::OpenFailed:
        return byName && steering_.faults.failOpen > 0;
      default:
        return false;
    }
  }

  void pluginInfo() {
    const int number = (steering_.seed & 7) - 1;
    const int length = steering_.seed >> 3;
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\x7F');
    const int copied = Exports::getPluginInfo(number, length ? buffer.data() : nullptr, length);
    HOST_CHECK(copied >= 0 && (length == 0 || copied < length));
    if (length) HOST_CHECK(buffer[copied] == '\0' && buffer[length] == '\x7F');
    contract().nothingHeld("after GetPluginInfo");
  }

  void recognise() {
    int answer;
    if (steering_.recogniseByHandle) {
      const int handle = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
      HOST_CHECK(handle >= 0 && handle < static_cast<int>(kFirstMemoryAddress));
      answer = underFaults(
          [&] { return Exports::isSupported(name_.c_str(), static_cast<HostValue>(handle)); });
      HOST_CHECK(::fcntl(handle, F_GETFD) != -1);  // the host's handle stays open
      ::close(handle);
    } else {
      // The host hands over the file's first bytes in a block of exactly the recognition size.
      Bytes block(kRecognitionBlockSize, 0);
      std::copy_n(file_.begin(), std::min(file_.size(), block.size()), block.begin());
      answer = underFaults([&] {
        return Exports::isSupported(name_.c_str(), reinterpret_cast<HostValue>(block.data()));
      });
    }
    HOST_CHECK(answer == 0 || answer == 1);
    contract().nothingHeld("after IsSupported");
  }

  // GetPictureInfo and GetPicture from memory read an exact-size copy, so that the sanitizer
  // sees a read past its end. The flag word's bits above the source kind, which count for
  // nothing, come from the input; by name, length is a number that must not matter either.
  LoaderResult callWithSource(bool byName, auto call) {
    const std::uint32_t otherBits = static_cast<std::uint32_t>(steering_.seed) << 3;
    if (byName) {
      return underFaults([&] {
        return call(name_.c_str(), static_cast<std::int32_t>(steering_.seed) - 128,
                    kSourceIsFileName | otherBits);
      });
    }
    Bytes copy = file_;
    const char* block = reinterpret_cast<const char*>(copy.data());
    const auto length = static_cast<std::int32_t>(copy.size());
    return underFaults([&] { return call(block, length, kSourceIsMemory | otherBits); });
  }

  // A source kind other than a name or a memory block: nothing is read or handed over.
  void unknownSourceKind() {
    const std::uint32_t flags = 2 + steering_.seed % 6;
    const char* block = reinterpret_cast<const char*>(file_.data());
    const auto length = static_cast<std::int32_t>(file_.size());
    PictureInfoRecord record;
    std::memset(&record, 0x5A, sizeof record);
    HGLOBAL info = kUntouched, pixels = kUntouched;
    ProgressScript script{1};
    const auto userData = reinterpret_cast<HostValue>(&script);
    LoaderResult r = Exports::getPictureInfo(block, length, flags, &record);
    HOST_CHECK(r == LoaderResult::NotProvided);
    contract().afterPictureInfo(r, record.textHandle, kUntouched);
    HOST_CHECK(record.width == 0x5A5A5A5A && record.textHandle == kUntouched);
    r = Exports::getPicture(block, length, flags, &info, &pixels, progressFunction, userData);
    HOST_CHECK(r == LoaderResult::NotProvided);
    contract().afterPicture("GetPicture", r, info, pixels, kUntouched);
    r = Exports::getPreview(block, length, flags, &info, &pixels, progressFunction, userData);
    HOST_CHECK(r == LoaderResult::NotProvided);
    contract().afterPicture("GetPreview", r, info, pixels, kUntouched);
    HOST_CHECK(script.calls == 0);
  }

  void pictureInfo() {
    PictureInfoRecord info;
    std::memset(&info, 0x5A, sizeof info);
    const LoaderResult r =
        callWithSource(steering_.byName, [&](auto source, auto length, auto flags) {
          return Exports::getPictureInfo(source, length, flags, &info);
        });
    HOST_CHECK(r == LoaderResult::Ok || explained(r, steering_.byName));
    HOST_CHECK(info.textHandle == 0 || info.textHandle == kUntouched || facts_.hasText);
    const Bytes text = contract().afterPictureInfo(r, info.textHandle, kUntouched);
    if (r != LoaderResult::Ok) {
      // Only a failure to make the text block comes after the record is filled.
      if (r != LoaderResult::NoMemory && r != LoaderResult::LockFailed) {
        HOST_CHECK(info.width == 0x5A5A5A5A && info.textHandle == kUntouched);
      }
      return;
    }
    HOST_CHECK(info.left == 0 && info.top == 0);
    HOST_CHECK(info.width == kPictureWidth && info.height == kPictureHeight);
    HOST_CHECK(info.horizontalDensity == kDensity && info.verticalDensity == kDensity);
    HOST_CHECK(info.colorDepth == kColorDepth);
    if (info.textHandle) {
      HOST_CHECK(std::memchr(text.data(), 0, text.size()) != nullptr);  // terminated
    }
  }

  Decoded picture(bool byName) {
    ProgressScript script{steering_.progressScript};
    const ProgressCallback progress = script.script ? progressFunction : nullptr;
    HGLOBAL info = kUntouched, pixels = kUntouched;
    Decoded d;
    d.result = callWithSource(byName, [&](auto source, auto length, auto flags) {
      return Exports::getPicture(source, length, flags, &info, &pixels, progress,
                                 reinterpret_cast<HostValue>(&script));
    });
    HOST_CHECK(d.result == LoaderResult::Ok || explained(d.result, byName) ||
               (d.result == LoaderResult::Cancelled && script.stopped));
    host_contract::HandedPicture handed =
        contract().afterPicture("GetPicture", d.result, info, pixels, kUntouched);
    if (d.result != LoaderResult::Ok) return d;
    d.info = std::move(handed.info);
    d.pixels = std::move(handed.pixels);

    HOST_CHECK(readLe32(&d.info[0]) == kInfoHeaderSize);
    HOST_CHECK(readLe32(&d.info[4]) == kPictureWidth && readLe32(&d.info[8]) == kPictureHeight);
    HOST_CHECK(readLe32(&d.info[12]) == (1 | kColorDepth << 16));
    HOST_CHECK(readLe32(&d.info[16]) == 0 && readLe32(&d.info[32]) == 0);
    for (int entry = 0; entry < kPaletteEntries; ++entry) {
      HOST_CHECK(d.info[kInfoHeaderSize + 4 * entry + 3] == 0);
    }
    const int largest =
        facts_.largestPixelValue(file_, byName && steering_.fourthPlane == RightSize);
    for (std::uint8_t b : d.pixels) HOST_CHECK((b >> 4) <= largest && (b & 15) <= largest);
    return d;
  }

  // GetPicture of the native link from memory, with the companion files of the scratch folder
  // handed over in memory, and a report that must tell 8 or 16 colours.
  Decoded pictureWithHeldCompanions() {
    struct Report final : LoaderReport {
      int shown = 0;
      void colors(int count) override { shown = count; }
      void companionTaken(const char*, CompanionUse) override {}
    };
    std::vector<Bytes> contents;
    std::vector<std::string> names;
    // A name without a short extension has no companions beside it: none are held either.
    const bool hasCompanions = companionStemLength(name_.c_str(), name_.size()) != 0;
    for (const char* extension : {"rgb", "e1"}) {
      if (!hasCompanions) break;
      const std::filesystem::path path = scratchFolder() / (std::string("p.") + extension);
      std::ifstream in(path, std::ios::binary);
      if (!in) continue;
      contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      names.push_back(path.filename().string());
    }
    std::vector<HeldCompanion> items;
    for (std::size_t i = 0; i < contents.size(); ++i) {
      items.push_back(
          {names[i].c_str(), contents[i].data(), static_cast<std::int32_t>(contents[i].size())});
    }
    const HeldCompanions held{items.data(), static_cast<std::int32_t>(items.size())};
    Report report;
    ProgressScript script{steering_.progressScript};
    HGLOBAL info = kUntouched, pixels = kUntouched;
    Decoded d;
    d.result = Exports::linkedPicture(
        LinkedCall{&held, &report}, reinterpret_cast<const char*>(file_.data()),
        static_cast<std::int32_t>(file_.size()), kSourceIsMemory, &info, &pixels,
        script.script ? progressFunction : nullptr, reinterpret_cast<HostValue>(&script));
    host_contract::HandedPicture handed =
        contract().afterPicture("GetPicture", d.result, info, pixels, kUntouched);
    if (d.result != LoaderResult::Ok) return d;
    HOST_CHECK(report.shown == 8 || report.shown == 16);
    d.info = std::move(handed.info);
    d.pixels = std::move(handed.pixels);
    return d;
  }

  void preview() {
    HGLOBAL info = kUntouched, pixels = kUntouched;
    ProgressScript script{steering_.progressScript};
    const LoaderResult r =
        callWithSource(steering_.byName, [&](auto source, auto length, auto flags) {
          return Exports::getPreview(source, length, flags, &info, &pixels,
                                     script.script ? progressFunction : nullptr,
                                     reinterpret_cast<HostValue>(&script));
        });
    HOST_CHECK(r == LoaderResult::NotProvided || explained(r, steering_.byName));
    HOST_CHECK(script.calls == 0);
    contract().afterPicture("GetPreview", r, info, pixels, kUntouched);
  }

  const PluginFacts& facts_;
  Steering steering_;
  Bytes file_;
  std::string name_;
};

template <class Loader>
int fuzzOneInput(const PluginFacts& facts, const std::uint8_t* data, std::size_t size) {
  Host<Loader>(facts, data, size).run();
  return 0;
}

}  // namespace fuzzhost
