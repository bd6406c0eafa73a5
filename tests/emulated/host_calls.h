// SPDX-License-Identifier: MIT
// What a host passes to a plug-in's picture calls and what it gets back, in a form that both the
// emulated DLL and the native build fill, so that the two can be compared byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "framework/host_interface.h"

using Bytes = std::vector<std::uint8_t>;

// The source argument of GetPictureInfo, GetPicture and GetPreview with its length and flags.
struct PictureSource {
  static PictureSource fileName(std::string path, std::uint32_t flags = kSourceIsFileName,
                                std::int32_t length = 0) {
    return {true, std::move(path), {}, flags, length};
  }
  static PictureSource memory(Bytes file, std::uint32_t flags = kSourceIsMemory) {
    const auto length = static_cast<std::int32_t>(file.size());
    return {false, {}, std::move(file), flags, length};
  }

  bool isName;
  std::string name;
  Bytes bytes;
  std::uint32_t flags;
  std::int32_t length;
};

// One call of the host's progress function.
struct ProgressCall {
  std::int32_t done;
  std::int32_t total;
  std::uint64_t userData;  // 32-bit values from a 32-bit DLL, 64-bit ones from a 64-bit DLL
  friend bool operator==(const ProgressCall&, const ProgressCall&) = default;
};

// Answers the plug-in's progress call number index (from 0). An empty script means the host
// passes no progress function.
using ProgressScript = std::function<std::int32_t(int index, const ProgressCall& call)>;

// The script and record of the progress calls of a host's call in progress, and what a host's
// progress function does with each call: records it and answers as the script says (0 without
// one).
struct ProgressState {
  const ProgressScript* script = nullptr;
  std::vector<ProgressCall>* calls = nullptr;

  int answer(const ProgressCall& call) const {
    calls->push_back(call);
    return script && *script ? (*script)(static_cast<int>(calls->size()) - 1, call) : 0;
  }
};

// What GetPicture (or GetPreview) did, as the host sees it. Each host checks the host contract
// (tests/support/host_contract.h) after the call and takes the blocks over with it.
struct PictureOutcome {
  LoaderResult result = LoaderResult::NotProvided;
  Bytes info;  // the handed-over blocks, when the result is Ok
  Bytes pixels;
  std::string contractFailures;  // the host contract's failed checks, a line each
  std::vector<ProgressCall> progress;
  friend bool operator==(const PictureOutcome&, const PictureOutcome&) = default;
};

// What GetPictureInfo did. The host fills the record with kRecordFill before the call.
struct PictureInfoOutcome {
  enum class Text { Untouched, None, Block };
  LoaderResult result = LoaderResult::NotProvided;
  std::array<std::uint8_t, kPictureInfoFieldBytes> fields{};  // the record up to its text handle
  Text text = Text::Untouched;
  Bytes textBytes;               // the text block's contents
  std::string contractFailures;  // as in PictureOutcome
  friend bool operator==(const PictureInfoOutcome&, const PictureInfoOutcome&) = default;
};

constexpr std::uint8_t kRecordFill = 0x5A;
// What the host stores in its handle variables before GetPicture, to see whether they change.
constexpr std::uint32_t kUntouchedHandle = 0xDEADBEEF;

std::ostream& operator<<(std::ostream& out, LoaderResult result);

// A readable account of an outcome, for failure messages.
std::string describe(const PictureOutcome& outcome);
std::string describe(const PictureInfoOutcome& outcome);
// Where two outcomes differ, in words, each side named as sides says; empty when they are equal.
struct Sides {
  const char* first = "emulated";
  const char* second = "natively";
};
std::string difference(const PictureOutcome& emulated, const PictureOutcome& native,
                       const Sides& sides = {});
std::string difference(const PictureInfoOutcome& emulated, const PictureInfoOutcome& native,
                       const Sides& sides = {});
