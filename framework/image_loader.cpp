// SPDX-License-Identifier: MIT
#include "framework/image_loader.h"

#include <climits>
#include <cstring>

ImageLoader::~ImageLoader() {
  if (infoHandle) {
    GlobalUnlock(infoHandle);
    GlobalFree(infoHandle);
  }
  if (pixelHandle) {
    GlobalUnlock(pixelHandle);
    GlobalFree(pixelHandle);
  }
  if (fileName) HeapFree(GetProcessHeap(), 0, fileName);
  // A file this loader opened is closed even when its name could not be copied; a handle the
  // host passed in is never closed.
  if (ownsFile && file >= 0) _lclose(file);
}

LoaderResult ImageLoader::checkFormat(const char*, HostValue) {
  return LoaderResult::NotProvided;
}
LoaderResult ImageLoader::readHeader() {
  return LoaderResult::NotProvided;
}
LoaderResult ImageLoader::fillPictureInfo(PictureInfoRecord*) {
  return LoaderResult::NotProvided;
}
LoaderResult ImageLoader::buildPreview() {
  return LoaderResult::NotProvided;
}
LoaderResult ImageLoader::buildBitmapInfo() {
  return LoaderResult::NotProvided;
}
LoaderResult ImageLoader::decodePixels() {
  return LoaderResult::NotProvided;
}

namespace {

// A memory source's length as the loader keeps it: 32-bit. A length of a 64-bit host beyond
// that range is clamped to it: more than 2 GiB promises more bytes than any picture of these
// formats can use, and a negative length gives no bytes either way. Lengths within the range,
// and every length of a 32-bit host, are kept as they are.
std::int32_t memoryLength(HostLength length) {
#ifdef _WIN64
  static_assert(sizeof(HostLength) > sizeof(std::int32_t));
  if (length > INT32_MAX) return INT32_MAX;
  if (length < INT32_MIN) return INT32_MIN;
#endif
  return static_cast<std::int32_t>(length);
}

}  // namespace

LoaderResult ImageLoader::selectSource(const void* source, HostLength length, std::uint32_t flags) {
  switch (flags & kSourceKindMask) {
    case kSourceIsFileName:
      return openByName(static_cast<const char*>(source));
    case kSourceIsMemory:
      return attachMemory(source, memoryLength(length));
    default:
      return LoaderResult::NotProvided;
  }
}

LoaderResult ImageLoader::openByName(const char* name) {
  file = _lopen(name, OF_READ);
  if (file < 0) return LoaderResult::OpenFailed;
  ownsFile = true;
  // Room for the name, its terminator and five more characters, so that a companion's
  // extension of up to three letters always fits in place of the picture's.
  std::size_t length = std::strlen(name);
  fileName = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + 6));
  if (fileName) std::memcpy(fileName, name, length + 1);
  return LoaderResult::Ok;
}

LoaderResult ImageLoader::attachHandle(HFILE handle) {
  file = handle;
  return LoaderResult::Ok;
}

LoaderResult ImageLoader::attachMemory(const void* block, std::int32_t size) {
  memory = static_cast<const std::uint8_t*>(block);
  memorySize = size;
  memoryPosition = 0;
  return LoaderResult::Ok;
}

LoaderResult ImageLoader::attachRecognitionSource(HostValue source) {
  if (source < kFirstMemoryAddress) return attachHandle(static_cast<HFILE>(source));
  return attachMemory(reinterpret_cast<const void*>(source), kRecognitionBlockSize);
}

int ImageLoader::readBytes(void* destination, std::int32_t count) {
  if (file >= 0) {
    // A read error answers -1, which never equals a positive count.
    return static_cast<int>(_lread(file, destination, static_cast<UINT>(count)));
  }
  std::int32_t available = memorySize - memoryPosition;
  std::int32_t copied = count < available ? count : available;
  if (copied <= 0) return 0;
  std::memcpy(destination, memory + memoryPosition, static_cast<std::size_t>(copied));
  memoryPosition += copied;
  return copied;
}

