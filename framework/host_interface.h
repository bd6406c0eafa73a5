// SPDX-License-Identifier: MIT
// What the host and a plug-in exchange: result codes, the picture-information record, the
// progress function and the five exports' signatures. Hosts include this, never the platform
// layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/interface_types.h"

// The result of every loader operation and of every export but IsSupported. The first
// non-zero result ends an export's sequence and reaches the host unchanged.
enum class LoaderResult : std::int32_t {
  Ok = 0,
  Cancelled = 1,      // the host's progress function answered non-zero while decoding
  UnknownFormat = 2,  // the file name does not end in the format's extension
  BadData = 3,        // a read came up short, or a signature or size check failed
  NoMemory = 4,       // a global memory allocation failed
  LockFailed = 5,     // locking a global memory block failed
  OpenFailed = 6,     // the file named by the host could not be opened
  NotProvided = -1,   // the loader does not provide the operation, or an unknown source kind
};

// Every result code with its name, as the code spells it, and what it means in words: the one
// table that both a code's name (resultName) and a host's reasons (host::describeResult) read.
struct ResultCodeText {
  LoaderResult code;
  const char* name;   // "BadData"
  const char* words;  // "the data is damaged: ..."
};
inline constexpr ResultCodeText kResultCodes[] = {
    {LoaderResult::Ok, "Ok", "done"},
    {LoaderResult::Cancelled, "Cancelled", "cancelled"},
    {LoaderResult::UnknownFormat, "UnknownFormat", "the name lacks the format's extension"},
    {LoaderResult::BadData, "BadData",
     "the data is damaged: a signature or size check failed, or the file ends early"},
    {LoaderResult::NoMemory, "NoMemory", "out of memory"},
    {LoaderResult::LockFailed, "LockFailed", "memory could not be locked"},
    {LoaderResult::OpenFailed, "OpenFailed", "cannot open the file"},
    {LoaderResult::NotProvided, "NotProvided", "not provided by the plug-in"},
};

// The table's entry for a code; null for a value that is no result code.
constexpr const ResultCodeText* resultCodeText(LoaderResult r) {
  for (const ResultCodeText& entry : kResultCodes) {
    if (entry.code == r) return &entry;
  }
  return nullptr;
}

// The name of a result code, as the code spells it ("BadData").
constexpr const char* resultName(LoaderResult r) {
  const ResultCodeText* entry = resultCodeText(r);
  return entry ? entry->name : "an unknown result";
}

// The host's progress function: done of total lines are produced. A non-zero answer asks the
// loader to stop.
using ProgressCallback = int(PLUGIN_CALL*)(int done, int total, HostValue userData);

// The record GetPictureInfo fills: packed, little-endian; 22 bytes of fields, then the text
// handle: 26 bytes where handles are 32-bit (the 32-bit DLLs, the native build), 30 in 64-bit
// builds.
#pragma pack(push, 1)
struct PictureInfoRecord {
  std::int32_t left;
  std::int32_t top;
  std::int32_t width;
  std::int32_t height;
  std::int16_t horizontalDensity;
  std::int16_t verticalDensity;
  std::int16_t colorDepth;
  BlockHandle textHandle;  // a text block the host then owns, or 0
};
#pragma pack(pop)

constexpr std::size_t kPictureInfoFieldBytes = 22;  // the record up to its text handle
constexpr std::size_t kPictureInfoRecordSize = kPictureInfoFieldBytes + sizeof(BlockHandle);

#ifdef _WIN32
static_assert(sizeof(BlockHandle) == sizeof(void*), "Windows handles are pointer-sized");
#else
static_assert(sizeof(BlockHandle) == 4, "the native stand-in's handles are 32-bit values");
#endif
static_assert(sizeof(PictureInfoRecord) == kPictureInfoRecordSize, "the record is packed");

// Source kinds in the low 3 bits of the flag word of GetPictureInfo, GetPicture, GetPreview.
constexpr std::uint32_t kSourceKindMask = 0x7;
constexpr std::uint32_t kSourceIsFileName = 0;
constexpr std::uint32_t kSourceIsMemory = 1;

// IsSupported: a source value below this is a host file handle, any other value the address
// of the file's first bytes, taken to be kRecognitionBlockSize bytes long.
constexpr HostValue kFirstMemoryAddress = 0x10000;
constexpr std::int32_t kRecognitionBlockSize = 16384;

// The file name extension of the plug-in DLLs that a host of this build loads: a 32-bit host
// loads gradec.spi and qdec.spi, a 64-bit host the 64-bit builds gradec.sph and qdec.sph. (The
// native build links the plug-ins in and names them as the 32-bit files.) A string literal, so
// that names can be joined to it: "gradec" PLUGIN_FILE_EXTENSION.
#ifdef _WIN64
#define PLUGIN_FILE_EXTENSION ".sph"
#else
#define PLUGIN_FILE_EXTENSION ".spi"
#endif

// The string table: GetPluginInfo(n) answers string kFirstInfoStringId + n.
constexpr unsigned kFirstInfoStringId = 1024;

// The exports as a host calls them.
using GetPluginInfoFn = int(PLUGIN_CALL*)(int infoNumber, char* buffer, int bufferLength);
using IsSupportedFn = int(PLUGIN_CALL*)(const char* fileName, HostValue source);
using GetPictureInfoFn = LoaderResult(PLUGIN_CALL*)(const char* source, HostLength length,
                                                    std::uint32_t flags, PictureInfoRecord* info);
using GetPictureFn = LoaderResult(PLUGIN_CALL*)(const char* source, HostLength length,
                                                std::uint32_t flags, BlockHandle* infoOut,
                                                BlockHandle* pixelsOut, ProgressCallback progress,
                                                HostValue userData);
using GetPreviewFn = GetPictureFn;
