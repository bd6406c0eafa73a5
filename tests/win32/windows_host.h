// SPDX-License-Identifier: MIT
// A Windows host of one plug-in DLL, for the test programs that run under Wine: loads the DLL
// with LoadLibrary, finds its exports by name with GetProcAddress and calls them as the host
// interface of this build says (32- or 64-bit), filling the same outcome records as the
// emulated host and the native build, so that all of them can be compared. Every call is
// followed by the host contract's checks (tests/support/host_contract.h), whose failures land in
// the outcome's contractFailures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/host_interface.h"
#include "tests/emulated/host_calls.h"
#include "tests/support/host_contract.h"

namespace windows_host {

// The progress calls of the call in progress.
inline ProgressState progressState;

inline int WINAPI recordProgress(int done, int total, HostValue userData) {
  return progressState.answer(ProgressCall{done, total, userData});
}

inline HGLOBAL untouchedHandle() {
  return reinterpret_cast<HGLOBAL>(static_cast<std::uintptr_t>(kUntouchedHandle));
}

// Windows' view of blocks for the host contract (host_contract.h): a block's lock count comes
// from GlobalFlags. Windows keeps no count of the blocks and files a DLL holds that a host could
// ask for, so the contract's checks of what is held are left out here.
struct WindowsBlocks {
  using Handle = HGLOBAL;

  std::optional<host_contract::Holdings> holdings() const { return std::nullopt; }

  host_contract::TakenBlock take(Handle handle) const {
    host_contract::TakenBlock taken;
    const UINT flags = handle ? GlobalFlags(handle) : GMEM_INVALID_HANDLE;
    taken.isBlock = flags != GMEM_INVALID_HANDLE;
    if (!taken.isBlock) return taken;
    taken.locked = (flags & GMEM_LOCKCOUNT) != 0;
    taken.size = GlobalSize(handle);
    const auto* data = static_cast<const std::uint8_t*>(GlobalLock(handle));
    taken.read = data != nullptr;
    if (data) {
      taken.bytes.assign(data, data + taken.size);
      GlobalUnlock(handle);
    }
    taken.freed = GlobalFree(handle) == nullptr;
    return taken;
  }
};

// The host contract after a call, its failures collected into the outcome (contractFailures),
// which the checks of each program report.
inline host_contract::Checker<WindowsBlocks, host_contract::CollectedReport> contract(
    std::string& failures) {
  return {WindowsBlocks{}, host_contract::CollectedReport{&failures}};
}

// The folder of this program, with a trailing separator: where the build puts the DLLs too.
inline std::string programFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

}  // namespace windows_host

class WindowsHost {
 public:
  explicit WindowsHost(const std::string& path) : module_(LoadLibraryA(path.c_str())) {}
  ~WindowsHost() {
    if (module_) FreeLibrary(module_);
  }
  WindowsHost(const WindowsHost&) = delete;
  WindowsHost& operator=(const WindowsHost&) = delete;

  bool loaded() const { return module_ != nullptr; }
  bool exports(const char* name) { return entry(name) != nullptr; }

  // The exports themselves, for calls the outcome records do not describe.
  GetPictureInfoFn getPictureInfoFunction() const {
    return get<GetPictureInfoFn>("GetPictureInfo");
  }
  GetPictureFn getPictureFunction() const { return get<GetPictureFn>("GetPicture"); }
  IsSupportedFn isSupportedFunction() const { return get<IsSupportedFn>("IsSupported"); }

  int getPluginInfo(int infoNumber, char* buffer, int bufferLength) {
    return get<GetPluginInfoFn>("GetPluginInfo")(infoNumber, buffer, bufferLength);
  }

  int isSupported(const std::string& fileName, const Bytes& firstBytes) {
    Bytes block(kRecognitionBlockSize, 0);
    std::copy_n(firstBytes.begin(), std::min(firstBytes.size(), block.size()), block.begin());
    return isSupportedWithValue(fileName, reinterpret_cast<HostValue>(block.data()));
  }

  // IsSupported with a file handle of the host, or any other value as the source argument.
  int isSupportedWithValue(const std::string& fileName, HostValue source) {
    return isSupportedFunction()(fileName.c_str(), source);
  }

  PictureInfoOutcome getPictureInfo(const PictureSource& source) {
    PictureInfoRecord record;
    std::memset(&record, kRecordFill, sizeof record);
    PictureInfoOutcome outcome;
    outcome.result =
        getPictureInfoFunction()(sourcePointer(source), source.length, source.flags, &record);
    std::memcpy(outcome.fields.data(), &record, outcome.fields.size());
    HGLOBAL untouched;
    std::memset(&untouched, kRecordFill, sizeof untouched);
    const HGLOBAL text = record.textHandle;
    outcome.text = text == untouched ? PictureInfoOutcome::Text::Untouched
                   : text == nullptr ? PictureInfoOutcome::Text::None
                                     : PictureInfoOutcome::Text::Block;
    outcome.textBytes = windows_host::contract(outcome.contractFailures)
                            .afterPictureInfo(outcome.result, text, untouched);
    return outcome;
  }

  // GetPicture with the progress function answering as the script says (none when it is
  // empty) and recording its calls, and the user value given.
  PictureOutcome getPicture(const PictureSource& source, const ProgressScript& progress = {},
                            HostValue userData = 0) {
    return pictureCall("GetPicture", source, progress, userData);
  }
  PictureOutcome getPreview(const PictureSource& source, const ProgressScript& progress = {},
                            HostValue userData = 0) {
    return pictureCall("GetPreview", source, progress, userData);
  }

  bool hasResource(std::uint32_t type, std::uint32_t name, std::uint32_t language) {
    return FindResourceExA(module_, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(name),
                           static_cast<WORD>(language)) != nullptr;
  }

 protected:
  void* entry(const char* name) const {
    return module_ ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
  }
  template <class Fn>
  Fn get(const char* name) const {
    return reinterpret_cast<Fn>(entry(name));
  }

 private:
  static const char* sourcePointer(const PictureSource& source) {
    return source.isName ? source.name.c_str() : reinterpret_cast<const char*>(source.bytes.data());
  }

  PictureOutcome pictureCall(const char* name, const PictureSource& source,
                             const ProgressScript& progress, HostValue userData) {
    PictureOutcome outcome;
    windows_host::progressState = {&progress, &outcome.progress};
    HGLOBAL info = windows_host::untouchedHandle();
    HGLOBAL pixels = windows_host::untouchedHandle();
    outcome.result =
        get<GetPictureFn>(name)(sourcePointer(source), source.length, source.flags, &info, &pixels,
                                progress ? windows_host::recordProgress : nullptr, userData);
    windows_host::progressState = {};
    host_contract::HandedPicture handed =
        windows_host::contract(outcome.contractFailures)
            .afterPicture(name, outcome.result, info, pixels, windows_host::untouchedHandle());
    outcome.info = std::move(handed.info);
    outcome.pixels = std::move(handed.pixels);
    return outcome;
  }

  HMODULE module_;
};
