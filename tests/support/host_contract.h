// SPDX-License-Identifier: MIT
// What a plug-in promises its host after every export call, checked the same way by every test
// host: the native tests and fault sweeps, the fuzz targets, the emulated Windows process that
// runs the real DLLs, and the Win32 host program.
//
//   - The result is one of the defined codes.
//   - A failure hands nothing over: the host's handle variables keep what the host stored in
//     them, a text handle is 0 or untouched, and nothing is left allocated, locked or open.
//   - Success hands over blocks of the right sizes (GetPicture: the 104-byte information block
//     and the 128000-byte pixel block, two blocks; GetPictureInfo: the 36-byte comment block of
//     a Q picture, or none), unlocked, and the plug-in holds nothing besides them.
//   - Once the host has freed what it took, nothing is allocated, locked or open.
//
// A Checker is written once over two parts that differ between the hosts:
//
//   View, how a build sees blocks and resources:
//     using Handle = ...;                      // a global block as the host holds it
//     std::optional<Holdings> holdings();      // what the plug-in's side holds; nullopt where
//                                              // the build cannot count it (real Windows)
//     TakenBlock take(Handle);                 // reads a handed-over block and frees it
//
//   Report, how a broken promise is reported: report(std::string_view message, Site where),
//   where names the line of the host that asked for the check. GoogleTest's ADD_FAILURE in
//   the tests, an abort in the fuzz targets, or CollectedReport below, which writes the
//   messages into a host's record of the call.
//
//   HGLOBAL info = kUntouched, pixels = kUntouched;
//   const LoaderResult r = Exports::getPicture(source, length, flags, &info, &pixels, nullptr, 0);
//   const HandedPicture handed = checker.afterPicture("GetPicture", r, info, pixels, kUntouched);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/host_interface.h"
#include "framework/picture_geometry.h"
#include "q/q_format.h"

namespace host_contract {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kInfoBlockBytes = kInfoBlockSize;
constexpr std::size_t kPixelBlockBytes = kPixelBlockSize;
// Only a Q picture's comment comes as a text block.
constexpr std::size_t kTextBlockBytes = qformat::kCommentBlockSize;

// What the plug-in's side holds: global blocks (and how many of them are locked), blocks of
// its private heap, files.
struct Holdings {
  int liveGlobalBlocks = 0;
  int lockedGlobalBlocks = 0;
  int liveHeapBlocks = 0;
  int openFiles = 0;
  friend bool operator==(const Holdings&, const Holdings&) = default;
};

// "2 global blocks (1 locked), 1 open file", or "nothing".
inline std::string describe(const Holdings& h) {
  std::string text;
  auto add = [&text](int count, const char* what, const char* whatMany) {
    if (count == 0) return;
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " " + (count == 1 ? what : whatMany);
  };
  add(h.liveGlobalBlocks, "global block", "global blocks");
  if (h.lockedGlobalBlocks) text += " (" + std::to_string(h.lockedGlobalBlocks) + " locked)";
  add(h.liveHeapBlocks, "heap block", "heap blocks");
  add(h.openFiles, "open file", "open files");
  return text.empty() ? "nothing" : text;
}

// What a host finds in a block it takes over.
struct TakenBlock {
  bool isBlock = false;  // the handle named a live global block; nothing else is filled if not
  std::size_t size = 0;
  bool locked = false;  // it still held a lock when the host took it
  bool read = false;    // the host could lock it and read its bytes
  Bytes bytes;
  bool freed = false;  // GlobalFree succeeded
};

// The host's line that asked for a check: a default argument, filled in where it is called.
struct Site {
  constexpr Site(const char* atFile = __builtin_FILE(), int atLine = __builtin_LINE())
      : file(atFile), line(atLine) {}
  const char* file;
  int line;
};

// Collects the messages into a host's record of the call, a line each, for hosts that compare
// or report records rather than report at once.
struct CollectedReport {
  std::string* messages;
  void operator()(std::string_view message, Site) const {
    messages->append(message);
    messages->push_back('\n');
  }
};

constexpr bool isDefinedResult(LoaderResult r) {
  return resultCodeText(r) != nullptr;
}

// The two blocks of a successful GetPicture, as the host took them; empty otherwise.
struct HandedPicture {
  Bytes info;
  Bytes pixels;
};

template <class View, class Report>
class Checker {
 public:
  using Handle = typename View::Handle;

  Checker(View view, Report report) : view_(std::move(view)), report_(std::move(report)) {}

  // Nothing is allocated, locked or open. when names the moment ("after IsSupported").
  void nothingHeld(std::string_view when, Site where = {}) {
    expectHoldings(Holdings{}, where, [when] { return std::string(when); });
  }

  // Takes over a block the plug-in handed to the host: a global block of expectedSize bytes
  // (of any size without one) that holds no lock. Answers its bytes, and frees it.
  Bytes take(Handle block, std::size_t expectedSize, std::string_view what, Site where = {}) {
    return takeBlock(block, expectedSize, what, where);
  }
  Bytes take(Handle block, std::string_view what, Site where = {}) {
    return takeBlock(block, kAnySize, what, where);
  }

  // After GetPicture or GetPreview (call) answered result, leaving info and pixels in the
  // host's handle variables, which held untouched before the call. On Ok, takes both blocks
  // over and answers their bytes.
  HandedPicture afterPicture(std::string_view call, LoaderResult result, Handle info, Handle pixels,
                             Handle untouched, Site where = {}) {
    const Answer answer{call, result};
    expectDefined(answer, where);
    if (result != LoaderResult::Ok) {
      if (info != untouched || pixels != untouched)
        report_(answer.text() + " and wrote to the host's handle variables", where);
      expectHoldings(Holdings{}, where, [&] { return answer.text(); });
      return {};
    }
    if (info == pixels) {
      report_(answer.text() + " and handed over one block as both", where);
      takeBlock(info, kAnySize, "information", where);
      return {};
    }
    expectHoldings(Holdings{2, 0, 0, 0}, where,
                   [&] { return answer.text() + " (besides the two blocks handed over)"; });
    HandedPicture handed;
    handed.info = takeBlock(info, kInfoBlockBytes, "information", where);
    handed.pixels = takeBlock(pixels, kPixelBlockBytes, "pixel", where);
    expectHoldings(Holdings{}, where,
                   [&] { return answer.text() + " and the host freed both blocks"; });
    return handed;
  }

  // After GetPictureInfo answered result, leaving text as the record's text handle, which held
  // untouched before the call. On Ok with a text block, takes it over and answers its bytes.
  Bytes afterPictureInfo(LoaderResult result, Handle text, Handle untouched, Site where = {}) {
    const Answer answer{"GetPictureInfo", result};
    expectDefined(answer, where);
    // Only a failure to make the text block comes after the record is filled, with a text
    // handle of 0.
    if (result != LoaderResult::Ok && text != untouched && text != Handle{})
      report_(answer.text() + " and handed over a text block", where);
    if (result != LoaderResult::Ok || text == Handle{}) {
      expectHoldings(Holdings{}, where, [&] { return answer.text(); });
      return {};
    }
    expectHoldings(Holdings{1, 0, 0, 0}, where,
                   [&] { return answer.text() + " (besides the text block handed over)"; });
    Bytes bytes = takeBlock(text, kTextBlockBytes, "text", where);
    expectHoldings(Holdings{}, where,
                   [&] { return answer.text() + " and the host freed the text block"; });
    return bytes;
  }

 private:
  // An export's answer, put in words only when a check fails: "GetPicture answered BadData".
  struct Answer {
    std::string_view call;
    LoaderResult result;
    std::string text() const {
      return std::string(call) + " answered " +
             (isDefinedResult(result) ? std::string(resultName(result))
                                      : std::to_string(static_cast<std::int32_t>(result)));
    }
  };

  void expectDefined(const Answer& answer, Site where) {
    if (!isDefinedResult(answer.result))
      report_(answer.text() + ", which is no result code", where);
  }

  // when: a function that names the moment, called only when the check fails.
  template <class When>
  void expectHoldings(const Holdings& expected, Site where, const When& when) {
    const std::optional<Holdings> held = view_.holdings();
    if (held && *held != expected) {
      report_(when() + ": the plug-in's side holds " + describe(*held) + ", expected " +
                  describe(expected),
              where);
    }
  }

  // Any size is right: a plain size rather than an optional, whose empty payload GCC's
  // optimised short-circuit compare reads (harmlessly, but Valgrind reports it).
  static constexpr std::size_t kAnySize = static_cast<std::size_t>(-1);

  Bytes takeBlock(Handle handle, std::size_t expectedSize, std::string_view what, Site where) {
    const auto block = [what] { return "the " + std::string(what) + " block"; };
    TakenBlock taken = view_.take(handle);
    if (!taken.isBlock) {
      report_(block() + "'s handle names no global block", where);
      return {};
    }
    if (expectedSize != kAnySize && taken.size != expectedSize) {
      report_(block() + " is " + std::to_string(taken.size) + " bytes, expected " +
                  std::to_string(expectedSize),
              where);
    }
    if (taken.locked) report_(block() + " was handed over locked", where);
    if (!taken.read) report_(block() + " could not be locked to read it", where);
    if (!taken.freed) report_(block() + " could not be freed", where);
    return std::move(taken.bytes);
  }

  View view_;
  Report report_;
};

}  // namespace host_contract
