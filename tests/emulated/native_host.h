// SPDX-License-Identifier: MIT
// The native build of a plug-in driven the way EmulatedPlugin drives the DLL, filling the same
// outcome records, so that the two can be compared byte for byte.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "framework/plugin_exports.h"
#include "tests/emulated/host_calls.h"
#include "tests/support/host_contract.h"
#include "tests/support/stand_in_blocks.h"

namespace native_host {

// The progress calls of the call in progress.
inline ProgressState progressState;

inline int WINAPI recordProgress(int done, int total, HostValue userData) {
  return progressState.answer(ProgressCall{done, total, userData});
}

// The host contract after a call, its failures collected into an outcome.
inline host_contract::Checker<StandInBlocks, host_contract::CollectedReport> contract(
    std::string& failures) {
  return {StandInBlocks{}, host_contract::CollectedReport{&failures}};
}

}  // namespace native_host

template <class Loader>
class NativeHost {
 public:
  using Exports = PluginExports<Loader>;

  static int isSupported(const std::string& fileName, const Bytes& firstBytes) {
    Bytes block(kRecognitionBlockSize, 0);
    std::copy_n(firstBytes.begin(), std::min(firstBytes.size(), block.size()), block.begin());
    return Exports::isSupported(fileName.c_str(), reinterpret_cast<HostValue>(block.data()));
  }

  static int isSupportedWithValue(const std::string& fileName, HostValue source) {
    return Exports::isSupported(fileName.c_str(), source);
  }

  static PictureInfoOutcome getPictureInfo(const PictureSource& source) {
    PictureInfoRecord record;
    std::memset(&record, kRecordFill, sizeof record);
    PictureInfoOutcome outcome;
    outcome.result =
        Exports::getPictureInfo(sourcePointer(source), source.length, source.flags, &record);
    lastOperationCounts = endPluginCall();
    std::memcpy(outcome.fields.data(), &record, outcome.fields.size());
    HGLOBAL untouched;
    std::memset(&untouched, kRecordFill, sizeof untouched);
    const HGLOBAL text = record.textHandle;
    outcome.text = text == untouched ? PictureInfoOutcome::Text::Untouched
                   : text == 0       ? PictureInfoOutcome::Text::None
                                     : PictureInfoOutcome::Text::Block;
    outcome.textBytes = native_host::contract(outcome.contractFailures)
                            .afterPictureInfo(outcome.result, text, untouched);
    return outcome;
  }

  static PictureOutcome getPicture(const PictureSource& source, const ProgressScript& progress = {},
                                   HostValue userData = 0) {
    return pictureCall("GetPicture", &Exports::getPicture, source, progress, userData);
  }

  // The allocations, locks and opens of the plug-in's last picture call.
  static inline platform::OperationCounts lastOperationCounts;

  static PictureOutcome getPreview(const PictureSource& source, const ProgressScript& progress = {},
                                   HostValue userData = 0) {
    return pictureCall("GetPreview", &Exports::getPreview, source, progress, userData);
  }

 private:
  using PictureCall = LoaderResult (*)(const char*, HostLength, std::uint32_t, HGLOBAL*, HGLOBAL*,
                                       ProgressCallback, HostValue);

  static const char* sourcePointer(const PictureSource& source) {
    return source.isName ? source.name.c_str() : reinterpret_cast<const char*>(source.bytes.data());
  }

  static PictureOutcome pictureCall(const char* name, PictureCall call, const PictureSource& source,
                                    const ProgressScript& progress, HostValue userData) {
    PictureOutcome outcome;
    native_host::progressState = {&progress, &outcome.progress};
    HGLOBAL info = kUntouchedHandle;
    HGLOBAL pixels = kUntouchedHandle;
    outcome.result = call(sourcePointer(source), source.length, source.flags, &info, &pixels,
                          progress ? native_host::recordProgress : nullptr, userData);
    native_host::progressState = {};
    lastOperationCounts = endPluginCall();
    host_contract::HandedPicture handed =
        native_host::contract(outcome.contractFailures)
            .afterPicture(name, outcome.result, info, pixels, kUntouchedHandle);
    outcome.info = std::move(handed.info);
    outcome.pixels = std::move(handed.pixels);
    return outcome;
  }
};
