// SPDX-License-Identifier: MIT
// The exported functions of a plug-in DLL and its entry point. Each plug-in's DLL source
// includes its loader's header, defines PLUGIN_LOADER as the loader class, then includes this.
#pragma once

#include <cstddef>
#include <type_traits>

#include "framework/plugin_exports.h"

using Exports = PluginExports<PLUGIN_LOADER>;

#ifdef _WIN64
// 64-bit hosts: pointers, handles, the user value and the memory length are 64-bit, the length
// signed; the record carries a 64-bit text handle.
static_assert(sizeof(void*) == 8 && sizeof(HostValue) == 8 && sizeof(HGLOBAL) == 8);
static_assert(sizeof(HostLength) == 8 && std::is_signed_v<HostLength>);
static_assert(sizeof(ProgressCallback) == 8);
static_assert(sizeof(PictureInfoRecord) == 30);
#else
// 32-bit hosts: every width of the host interface is exactly 32 bits.
static_assert(sizeof(void*) == 4 && sizeof(HostValue) == 4 && sizeof(HGLOBAL) == 4);
static_assert(sizeof(HostLength) == 4 && std::is_signed_v<HostLength>);
static_assert(sizeof(ProgressCallback) == 4);
static_assert(sizeof(PictureInfoRecord) == 26);
#endif
// What stays 32-bit or narrower on both.
static_assert(sizeof(LoaderResult) == 4);
static_assert(offsetof(PictureInfoRecord, horizontalDensity) == 16);
static_assert(offsetof(PictureInfoRecord, colorDepth) == 20);
static_assert(offsetof(PictureInfoRecord, textHandle) == 22);

#define PLUGIN_EXPORT extern "C" __declspec(dllexport)

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return Exports::entryPoint(instance, reason, reserved);
}

PLUGIN_EXPORT int WINAPI GetPluginInfo(int infoNumber, LPSTR buffer, int bufferLength) {
  return Exports::getPluginInfo(infoNumber, buffer, bufferLength);
}

PLUGIN_EXPORT int WINAPI IsSupported(LPCSTR fileName, HostValue source) {
  return Exports::isSupported(fileName, source);
}

PLUGIN_EXPORT LoaderResult WINAPI GetPictureInfo(LPCSTR source, HostLength length,
                                                 std::uint32_t flags, PictureInfoRecord* info) {
  return Exports::getPictureInfo(source, length, flags, info);
}

PLUGIN_EXPORT LoaderResult WINAPI GetPicture(LPCSTR source, HostLength length, std::uint32_t flags,
                                             HGLOBAL* infoOut, HGLOBAL* pixelsOut,
                                             ProgressCallback progress, HostValue userData) {
  return Exports::getPicture(source, length, flags, infoOut, pixelsOut, progress, userData);
}

PLUGIN_EXPORT LoaderResult WINAPI GetPreview(LPCSTR source, HostLength length, std::uint32_t flags,
                                             HGLOBAL* infoOut, HGLOBAL* pixelsOut,
                                             ProgressCallback progress, HostValue userData) {
  return Exports::getPreview(source, length, flags, infoOut, pixelsOut, progress, userData);
}
