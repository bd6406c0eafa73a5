// The native build of a plug-in driven the way EmulatedPlugin drives the DLL, filling the same
// outcome records, so that the two can be compared byte for byte.
#pragma once

#include <algorithm>
#include <cstring>

#include "framework/plugin_exports.h"
#include "tests/emulated/host_calls.h"

namespace native_host {

// The script and record of the progress calls of the call in progress.
struct ProgressState {
  const ProgressScript* script = nullptr;
  std::vector<ProgressCall>* calls = nullptr;
};
inline ProgressState progressState;

inline int WINAPI recordProgress(int done, int total, HostValue userData) {
  const ProgressCall call{done, total, userData};
  progressState.calls->push_back(call);
  return (*progressState.script)(static_cast<int>(progressState.calls->size()) - 1, call);
}

// The host's own calls are not the plug-in's: they neither meet a fault plan nor count in it.
// Answers what the plug-in's call did under the plan.
inline platform::OperationCounts endPluginCall() {
  const platform::OperationCounts counts = platform::operationCounts();
  platform::setFaultPlan({});
  return counts;
}

// The contents of a block handed to the host, which then frees it; locked tells whether the
// block still held a lock.
inline Bytes takeBlock(HGLOBAL handle, bool& locked) {
  Bytes bytes(GlobalSize(handle));
  const auto* data = static_cast<const std::uint8_t*>(GlobalLock(handle));
  if (data) std::copy_n(data, bytes.size(), bytes.begin());
  locked = locked || GlobalUnlock(handle) != FALSE;
  GlobalFree(handle);
  return bytes;
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
    lastOperationCounts = native_host::endPluginCall();
    std::memcpy(outcome.fields.data(), &record, outcome.fields.size());
    HGLOBAL untouched;
    std::memset(&untouched, kRecordFill, sizeof untouched);
    if (record.textHandle == untouched) {
      outcome.text = PictureInfoOutcome::Text::Untouched;
    } else if (record.textHandle == 0) {
      outcome.text = PictureInfoOutcome::Text::None;
    } else {
      outcome.text = PictureInfoOutcome::Text::Block;
      outcome.textBytes = native_host::takeBlock(record.textHandle, outcome.textLocked);
    }
    return outcome;
  }

  static PictureOutcome getPicture(const PictureSource& source, const ProgressScript& progress = {},
                                   HostValue userData = 0) {
    return pictureCall(&Exports::getPicture, source, progress, userData);
  }

  // The allocations, locks and opens of the plug-in's last picture call.
  static inline platform::OperationCounts lastOperationCounts;

  static PictureOutcome getPreview(const PictureSource& source, const ProgressScript& progress = {},
                                   HostValue userData = 0) {
    return pictureCall(&Exports::getPreview, source, progress, userData);
  }

 private:
  using PictureCall = LoaderResult (*)(const char*, HostLength, std::uint32_t, HGLOBAL*, HGLOBAL*,
                                       ProgressCallback, HostValue);

  static const char* sourcePointer(const PictureSource& source) {
    return source.isName ? source.name.c_str() : reinterpret_cast<const char*>(source.bytes.data());
  }

  static PictureOutcome pictureCall(PictureCall call, const PictureSource& source,
                                    const ProgressScript& progress, HostValue userData) {
    PictureOutcome outcome;
    native_host::progressState = {&progress, &outcome.progress};
    HGLOBAL info = kUntouchedHandle;
    HGLOBAL pixels = kUntouchedHandle;
    outcome.result = call(sourcePointer(source), source.length, source.flags, &info, &pixels,
                          progress ? native_host::recordProgress : nullptr, userData);
    native_host::progressState = {};
    lastOperationCounts = native_host::endPluginCall();
    outcome.outputsWritten = info != kUntouchedHandle || pixels != kUntouchedHandle;
    if (outcome.result == LoaderResult::Ok) {
      outcome.info = native_host::takeBlock(info, outcome.handedOverLocked);
      outcome.pixels = native_host::takeBlock(pixels, outcome.handedOverLocked);
    }
    return outcome;
  }
};
