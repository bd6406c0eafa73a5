// SPDX-License-Identifier: MIT
// The five host entry points, written once for both plug-ins.
//
// PluginExports<Loader> holds the exports of the plug-in whose format loader is Loader. Each
// call builds one Loader as a local, runs a fixed sequence of its operations (the first
// non-zero result ends it), hands over what the host is to own, and lets the loader's
// destructor free the rest. The Windows build wraps these in the exported WINAPI functions;
// natively tools and tests call them directly, so one program can hold both plug-ins.
//
// Below the exports lies the native link: the same sequences of GetPictureInfo and GetPicture
// with a LinkedCall (framework/linked_host.h), through which a host that links the plug-in in
// hands over companions it holds in memory and learns what the loader used. The exports run
// them without one, as the DLLs do.
#pragma once

#include "framework/host_interface.h"
#include "framework/linked_host.h"
#include "framework/platform.h"

template <class Loader>
class PluginExports {
 public:
  // The library entry point: keeps the module instance when the process attaches.
  static BOOL entryPoint(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) instanceHandle = instance;
    return TRUE;
  }

  // Copies string kFirstInfoStringId + infoNumber of the string table into buffer (truncated to
  // fit and terminated) and answers the number of characters copied, 0 when there is none.
  // Without a buffer it answers the size of a string resource of that very name, which the
  // table's 16-string blocks never bear, so 0.
  static int getPluginInfo(int infoNumber, char* buffer, int bufferLength) {
    const UINT id = kFirstInfoStringId + static_cast<UINT>(infoNumber);
    if (buffer && bufferLength > 0) {
      return LoadStringA(instanceHandle, id, buffer, bufferLength);
    }
    if (buffer && bufferLength < 0) return 0;  // no room to write anything
    HRSRC resource = FindResourceA(instanceHandle, MAKEINTRESOURCEA(id), RT_STRING);
    return resource ? static_cast<int>(SizeofResource(instanceHandle, resource)) : 0;
  }

  // 1 when fileName has the format's extension and source (a host file handle below 0x10000,
  // else the address of the file's first 16384 bytes) holds a picture of the format.
  static int isSupported(const char* fileName, HostValue source) {
    Loader loader;
    return loader.checkFormat(fileName, source) == LoaderResult::Ok ? 1 : 0;
  }

  static LoaderResult getPictureInfo(const char* source, HostLength length, std::uint32_t flags,
                                     PictureInfoRecord* info) {
    return linkedPictureInfo(LinkedCall{}, source, length, flags, info);
  }

  static LoaderResult getPicture(const char* source, HostLength length, std::uint32_t flags,
                                 HGLOBAL* infoOut, HGLOBAL* pixelsOut, ProgressCallback progress,
                                 HostValue userData) {
    return linkedPicture(LinkedCall{}, source, length, flags, infoOut, pixelsOut, progress,
                         userData);
  }

  // The native link's GetPictureInfo and GetPicture.
  static LoaderResult linkedPictureInfo(const LinkedCall& call, const char* source,
                                        HostLength length, std::uint32_t flags,
                                        PictureInfoRecord* info) {
    Loader loader;
    loader.heldCompanions = call.companions;
    loader.report = call.report;
    LoaderResult r = loader.selectSource(source, length, flags);
    if (r == LoaderResult::Ok) r = loader.readHeader();
    if (r == LoaderResult::Ok) r = loader.fillPictureInfo(info);
    return r;
  }

  static LoaderResult linkedPicture(const LinkedCall& call, const char* source, HostLength length,
                                    std::uint32_t flags, HGLOBAL* infoOut, HGLOBAL* pixelsOut,
                                    ProgressCallback progress, HostValue userData) {
    Loader loader;
    loader.heldCompanions = call.companions;
    loader.report = call.report;
    loader.progress = progress;
    loader.userData = userData;
    LoaderResult r = loader.selectSource(source, length, flags);
    if (r == LoaderResult::Ok) r = loader.readHeader();
    if (r == LoaderResult::Ok) r = loader.buildBitmapInfo();
    if (r == LoaderResult::Ok) r = loader.decodePixels();
    if (r == LoaderResult::Ok) {
      *infoOut = loader.infoHandle;
      *pixelsOut = loader.pixelHandle;
      loader.infoHandle = 0;
      loader.pixelHandle = 0;
    }
    return r;
  }

  static LoaderResult getPreview(const char* source, HostLength length, std::uint32_t flags,
                                 HGLOBAL* /*infoOut*/, HGLOBAL* /*pixelsOut*/,
                                 ProgressCallback progress, HostValue userData) {
    Loader loader;
    loader.progress = progress;
    loader.userData = userData;
    LoaderResult r = loader.selectSource(source, length, flags);
    if (r == LoaderResult::Ok) r = loader.readHeader();
    if (r == LoaderResult::Ok) r = loader.buildPreview();
    return r;
  }

 private:
  static HINSTANCE initialInstance() {
#ifdef _WIN32
    return nullptr;  // the entry point stores the instance at process attach
#else
    return &NativeModuleOf<Loader>::module;
#endif
  }
  static inline HINSTANCE instanceHandle = initialInstance();
};
