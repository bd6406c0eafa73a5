// SPDX-License-Identifier: MIT
// What a host that links a plug-in in (rather than loading its DLL) gives a loader beside the
// arguments of an export, and what it learns back. The DLL's exports give none of this: their
// loaders find companions by name and tell nothing but the result, as the host interface has it.
//
//   - Companions held in memory: a host that holds a picture and its companion files as bytes
//     (a browser page, a stream) hands them over. The loader takes them instead of looking for
//     files beside the picture, and under the same rule (ImageLoader::openCompanion): the held
//     companion whose name carries the extension asked for, at exactly the size asked for.
//   - A report: the colours the picture shows and every companion the loader took, by name and
//     by what it gave the picture.
#pragma once

#include <cstdint>

#include "framework/host_interface.h"

// A companion file as the host holds it: its name (for the extension, and as the report
// names it) and its bytes, which stay the host's and must stay in place during the call.
struct HeldCompanion {
  const char* name;
  const std::uint8_t* bytes;
  std::int32_t size;
};

// The companions a host hands over with a picture; none at all when count is 0.
struct HeldCompanions {
  const HeldCompanion* items;
  std::int32_t count;
};

// What a companion gave the picture.
enum class CompanionUse { Palette, FourthPlane };

// Where a loader tells what it used. Calls come while the export runs; a name passed is valid
// only during the call.
class LoaderReport {
 public:
  // The number of colours the picture shows (8 or 16); may come again with a later value.
  virtual void colors(int count) = 0;
  // A companion taken: a file by the name the loader opened it by, or a held companion by its
  // name.
  virtual void companionTaken(const char* name, CompanionUse use) = 0;

 protected:
  ~LoaderReport() = default;
};

// What a linked host passes besides an export's arguments. companions null: look for companion
// files beside a picture opened by name, as the exports do. report null: tell nothing.
struct LinkedCall {
  const HeldCompanions* companions = nullptr;
  LoaderReport* report = nullptr;
};

// GetPictureInfo and GetPicture of the native link: the exports' sequences with a LinkedCall.
using LinkedPictureInfoFn = LoaderResult (*)(const LinkedCall& call, const char* source,
                                             HostLength length, std::uint32_t flags,
                                             PictureInfoRecord* info);
using LinkedPictureFn = LoaderResult (*)(const LinkedCall& call, const char* source,
                                         HostLength length, std::uint32_t flags,
                                         BlockHandle* infoOut, BlockHandle* pixelsOut,
                                         ProgressCallback progress, HostValue userData);
