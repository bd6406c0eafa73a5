// SPDX-License-Identifier: MIT
// The checks a host makes of a plug-in DLL, written once for two hosts: the real Windows host
// (host_tests.exe, which loads the DLLs with LoadLibrary and runs under Wine, 32- or 64-bit)
// and the emulated host (tests/emulated, under GoogleTest). Each check is a function template over
// the host; a host provides:
//
//   bool exports(const char* name);                 // found by name, as GetProcAddress finds it
//   int stackLeftByCallOf(const char* name);        // bytes a call of the export leaves on the
//                                                   // stack (harmless arguments, see each host)
//   int getPluginInfo(int infoNumber, char* buffer, int bufferLength);
//   int isSupported(const std::string& fileName, const Bytes& firstBytes);
//   PictureInfoOutcome getPictureInfo(const PictureSource& source);   // each checking the host
//   PictureOutcome getPicture(const PictureSource& source);           // contract after the call
//   PictureOutcome getPreview(const PictureSource& source);           // (host_contract.h)
//   bool hasResource(std::uint32_t type, std::uint32_t name, std::uint32_t language);
//
// The checks report through HOST_CHECK(condition) and HOST_CHECK_EQ(a, b), both of which take
// a message with <<: GoogleTest's EXPECT macros when HOST_CHECKS_WITH_GTEST is defined, else a
// small harness of their own (GoogleTest does not build with every MinGW thread model).
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/emulated/host_calls.h"
#include "tests/support/pictures.h"
#include "tests/support/pinned.h"

#ifdef HOST_CHECKS_WITH_GTEST

#include <gtest/gtest.h>
#define HOST_CHECK(condition) EXPECT_TRUE(condition)
#define HOST_CHECK_EQ(a, b) EXPECT_EQ(a, b)

#else

namespace host_checks {

inline int failures = 0;

// Reports one failed check, with what was streamed into it, when it goes out of scope.
class Failure {
 public:
  Failure(const char* file, int line, const std::string& what) {
    message_ << file << ":" << line << ": " << what;
  }
  ~Failure() {
    std::cout << message_.str() << "\n";
    ++failures;
  }
  template <class T>
  Failure& operator<<(const T& value) {
    message_ << " " << value;
    return *this;
  }

 private:
  std::ostringstream message_;
};

struct Comparison {
  bool equal;
  std::string text;
};

template <class A, class B>
Comparison compare(const A& a, const B& b, const char* aText, const char* bText) {
  if (a == b) return {true, {}};
  std::ostringstream out;
  out << aText << " is " << a << ", expected " << bText << " = " << b << ";";
  return {false, out.str()};
}

}  // namespace host_checks

#define HOST_CHECK(condition) \
  switch (0)                  \
  case 0:                     \
  default:                    \
    if (condition)            \
      ;                       \
    else                      \
      host_checks::Failure(__FILE__, __LINE__, "failed: " #condition)

#define HOST_CHECK_EQ(a, b)                                                                 \
  switch (0)                                                                                \
  case 0:                                                                                   \
  default:                                                                                  \
    if (const auto comparison_ = host_checks::compare((a), (b), #a, #b); comparison_.equal) \
      ;                                                                                     \
    else                                                                                    \
      host_checks::Failure(__FILE__, __LINE__, comparison_.text)

#endif

// What the checks know of each DLL.
struct PluginDll {
  const char* file;
  const char* description;
  const char* pattern;
  const char* formatName;
  const char* truncatedDescription;  // the description in a 10-byte buffer
  // The smallest sound picture of the format: every pair a repeat (GRA), or no lines at all (Q),
  // which decodes to colour index 0 everywhere.
  Bytes emptyPicture;
};

inline const PluginDll& gradecDll() {
  static const PluginDll dll{"gradec" PLUGIN_FILE_EXTENSION,
                             "GRA to DIB filter",
                             "*.gra",
                             "GRA(4bit)",
                             "GRA to DI",
                             Bytes(16 + 200, 0)};
  return dll;
}

inline const PluginDll& qdecDll() {
  static const PluginDll dll{
      "qdec" PLUGIN_FILE_EXTENSION, "Q to DIB filter", "*.q", "Q(4bit)", "Q to DIB ",
      Bytes(134 + 400, 0)};
  return dll;
}

namespace host_checks {

constexpr const char* kExports[] = {"GetPluginInfo", "IsSupported", "GetPictureInfo", "GetPicture",
                                    "GetPreview"};
constexpr std::uint32_t kRtString = 6;
constexpr std::uint32_t kFirstStringBlock = 1024 / 16 + 1;  // strings 1024 to 1039
constexpr std::uint32_t kJapanese = 0x0411;
constexpr std::uint32_t kEnglishUs = 0x0409;
constexpr const char* kMissingPicture = "/no/such/folder/picture.gra";

template <class Host>
void exportsTheFiveFunctionsByTheirUndecoratedNames(Host& host, const PluginDll&) {
  for (const char* name : kExports) HOST_CHECK(host.exports(name)) << name;
  HOST_CHECK(!host.exports("GetPluginInfo@12"));
  HOST_CHECK(!host.exports("_GetPluginInfo@12"));
  HOST_CHECK(!host.exports("_GetPicture@28"));
}

template <class Host>
void everyExportRemovesItsOwnArguments(Host& host, const PluginDll&) {
  for (const char* name : kExports) HOST_CHECK_EQ(host.stackLeftByCallOf(name), 0) << name;
}

template <class Host>
void getPluginInfoAnswersFromTheStringResource(Host& host, const PluginDll& dll) {
  char buffer[80];
  HOST_CHECK_EQ(host.getPluginInfo(0, buffer, 80), 4);
  HOST_CHECK_EQ(std::string(buffer), "00IN");
  HOST_CHECK_EQ(host.getPluginInfo(1, buffer, 80), static_cast<int>(std::strlen(dll.description)));
  HOST_CHECK_EQ(std::string(buffer), dll.description);
  HOST_CHECK_EQ(host.getPluginInfo(2, buffer, 80), static_cast<int>(std::strlen(dll.pattern)));
  HOST_CHECK_EQ(std::string(buffer), dll.pattern);
  HOST_CHECK_EQ(host.getPluginInfo(3, buffer, 80), static_cast<int>(std::strlen(dll.formatName)));
  HOST_CHECK_EQ(std::string(buffer), dll.formatName);
  HOST_CHECK_EQ(host.getPluginInfo(4, buffer, 80), 0);
  HOST_CHECK_EQ(host.getPluginInfo(-1, buffer, 80), 0);
}

template <class Host>
void getPluginInfoTruncatesToTheBuffer(Host& host, const PluginDll& dll) {
  char buffer[80];
  std::memset(buffer, 'x', sizeof buffer);
  HOST_CHECK_EQ(host.getPluginInfo(1, buffer, 10), 9);
  HOST_CHECK_EQ(std::string(buffer), dll.truncatedDescription);
  HOST_CHECK_EQ(buffer[10], 'x');
  HOST_CHECK_EQ(host.getPluginInfo(0, buffer, 4), 3);
  HOST_CHECK_EQ(std::string(buffer), "00I");
  HOST_CHECK_EQ(host.getPluginInfo(0, buffer, 1), 0);
  HOST_CHECK_EQ(std::string(buffer), "");
  std::memset(buffer, 'x', sizeof buffer);
  HOST_CHECK_EQ(host.getPluginInfo(0, buffer, 0), 0);
  HOST_CHECK_EQ(buffer[0], 'x');
  HOST_CHECK_EQ(host.getPluginInfo(0, nullptr, 0), 0);
  HOST_CHECK_EQ(host.getPluginInfo(2, nullptr, 80), 0);
}

template <class Host>
void stringTableIsAJapaneseResourceBlock(Host& host, const PluginDll&) {
  HOST_CHECK(host.hasResource(kRtString, kFirstStringBlock, kJapanese));
  HOST_CHECK(!host.hasResource(kRtString, kFirstStringBlock, kEnglishUs));
  HOST_CHECK(!host.hasResource(kRtString, kFirstStringBlock + 1, kJapanese));
}

template <class Host>
void failuresReturnTheirCodesAndTouchNoHandle(Host& host, const PluginDll&) {
  const PictureSource missing = PictureSource::fileName(kMissingPicture);
  PictureOutcome picture = host.getPicture(missing);
  HOST_CHECK_EQ(picture.result, LoaderResult::OpenFailed);
  HOST_CHECK_EQ(picture.contractFailures, "");
  picture = host.getPreview(missing);
  HOST_CHECK_EQ(picture.result, LoaderResult::OpenFailed);
  HOST_CHECK_EQ(picture.contractFailures, "");
  // Only the low 3 bits of the flags name the source kind.
  picture = host.getPicture(PictureSource::fileName(kMissingPicture, 8));
  HOST_CHECK_EQ(picture.result, LoaderResult::OpenFailed);
  HOST_CHECK_EQ(picture.contractFailures, "");
  picture = host.getPicture(PictureSource::memory(Bytes(16), 2));
  HOST_CHECK_EQ(picture.result, LoaderResult::NotProvided);
  HOST_CHECK_EQ(picture.contractFailures, "");

  const PictureInfoOutcome info = host.getPictureInfo(missing);
  HOST_CHECK_EQ(info.result, LoaderResult::OpenFailed);
  HOST_CHECK_EQ(info.contractFailures, "");
  HOST_CHECK(info.text == PictureInfoOutcome::Text::Untouched);
  for (std::uint8_t b : info.fields) HOST_CHECK_EQ(int{b}, int{kRecordFill});
}

template <class Host>
void getPreviewProvidesNoPreview(Host& host, const PluginDll& dll) {
  const PictureOutcome preview = host.getPreview(PictureSource::memory(dll.emptyPicture));
  HOST_CHECK_EQ(preview.result, LoaderResult::NotProvided);
  HOST_CHECK_EQ(preview.contractFailures, "");
}

template <class Host>
void isSupportedRefusesOtherExtensions(Host& host, const PluginDll& dll) {
  HOST_CHECK_EQ(host.isSupported("picture.bmp", dll.emptyPicture), 0);
  HOST_CHECK_EQ(host.isSupported("picture", dll.emptyPicture), 0);
}

// The blocks handed over are the host's: unlocked, a bitmap header with its colour table and
// 400 rows of 320 bytes (the host contract checks the sizes and locks).
template <class Host>
void getPictureHandsOverUnlockedBlocks(Host& host, const PluginDll& dll) {
  const PictureOutcome picture = host.getPicture(PictureSource::memory(dll.emptyPicture));
  HOST_CHECK_EQ(picture.result, LoaderResult::Ok);
  HOST_CHECK_EQ(picture.contractFailures, "");
  HOST_CHECK(picture.info.size() >= 40u + 8 * 4) << picture.info.size();
  HOST_CHECK_EQ(picture.pixels.size(), 128000u);
  HOST_CHECK(picture.pixels == Bytes(picture.pixels.size(), 0));
}

// The DLL's pictures of the test-picture set, asked IsSupported and read by name beside their
// companions, decode to the pinned outputs (PINNED_FILE, tests/expected/decoded.sha256), and
// the files it refuses are refused as pinned.
template <class Host>
void decodesAsPinned(Host& host, const PluginDll& dll) {
  namespace fs = std::filesystem;
  const pinned::File file = pinned::read(PINNED_FILE);
  HOST_CHECK_EQ(file.error, "");
  const fs::path folder = fs::temp_directory_path() / ("planes-pinned-" + std::string(dll.file));
  int checked = 0;
  for (const pictures::PictureFiles& p : pictures::pinnedSet()) {
    if (p.isGra() != (std::strcmp(dll.pattern, "*.gra") == 0)) continue;
    HOST_CHECK_EQ(pictures::writeAll(folder.string(), {p}), "");
    if (host.isSupported(p.name, p.picture) == 0) {
      HOST_CHECK_EQ(pinned::compare(file, pinned::refused(p.name, "Unsupported")), "");
      ++checked;
      continue;
    }
    const PictureSource source = PictureSource::fileName((folder / p.name).string());
    const PictureOutcome picture = host.getPicture(source);
    HOST_CHECK_EQ(picture.contractFailures, "") << p.name;
    pinned::Entry got = pinned::refused(p.name, resultName(picture.result));
    if (picture.result == LoaderResult::Ok) {
      const PictureInfoOutcome info = host.getPictureInfo(source);
      HOST_CHECK_EQ(info.contractFailures, "") << p.name;
      got = pinned::fromBlocks(
          p.name, picture.info, picture.pixels,
          info.text == PictureInfoOutcome::Text::Block ? info.textBytes : Bytes{});
    }
    HOST_CHECK_EQ(pinned::compare(file, got), "");
    ++checked;
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  HOST_CHECK(checked >= 10) << checked << "pictures checked";
}

}  // namespace host_checks

// Every check, for a host's list or test registration: X(name).
#define HOST_CHECK_LIST(X)                          \
  X(exportsTheFiveFunctionsByTheirUndecoratedNames) \
  X(everyExportRemovesItsOwnArguments)              \
  X(getPluginInfoAnswersFromTheStringResource)      \
  X(getPluginInfoTruncatesToTheBuffer)              \
  X(stringTableIsAJapaneseResourceBlock)            \
  X(failuresReturnTheirCodesAndTouchNoHandle)       \
  X(getPreviewProvidesNoPreview)                    \
  X(isSupportedRefusesOtherExtensions)              \
  X(getPictureHandsOverUnlockedBlocks)              \
  X(decodesAsPinned)
