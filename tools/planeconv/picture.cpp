#include "tools/planeconv/picture.h"
#include "framework/platform.h"

#include <climits>
#include <cstring>

namespace {

std::int32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::vector<std::uint8_t> takeBlock(HGLOBAL handle) {
  std::vector<std::uint8_t> bytes(GlobalSize(handle));
  if (const void* data = GlobalLock(handle)) {
    std::memcpy(bytes.data(), data, bytes.size());
    GlobalUnlock(handle);
  } else {
    bytes.clear();
  }
  GlobalFree(handle);
  return bytes;
}

struct ProgressRelay {
  ProgressSink sink;
  void* context;
};

int WINAPI relayProgress(int done, int total, HostValue userData) {
  auto* relay = reinterpret_cast<ProgressRelay*>(userData);
  relay->sink(done, total, relay->context);
  return 0;
}

}  // namespace

int DecodedPicture::width() const {
  return le32(infoBlock, 4);
}
int DecodedPicture::height() const {
  return le32(infoBlock, 8);
}

Palette DecodedPicture::palette() const {
  Palette palette{};
  std::memcpy(palette.data(), infoBlock.data() + kInfoHeaderSize, sizeof palette);
  return palette;
}

const std::uint8_t* DecodedPicture::row(int y) const {
  return pixelBlock.data() + static_cast<std::size_t>(height() - 1 - y) * rowBytes();
}

std::uint8_t DecodedPicture::pixel(int x, int y) const {
  std::uint8_t b = row(y)[x / 2];
  return x % 2 ? b & 15 : b >> 4;
}

namespace {

// GetPicture on a file name (kSourceIsFileName) or a memory block (kSourceIsMemory), and the
// blocks it hands over taken into picture.
LoaderResult decodeSource(const Plugin& plugin, const char* source, HostLength length,
                          std::uint32_t flags, DecodedPicture& picture, ProgressSink sink,
                          void* context) {
  HGLOBAL info = 0, pixels = 0;
  ProgressRelay relay{sink, context};
  LoaderResult r =
      plugin.getPicture(source, length, flags, &info, &pixels, sink ? relayProgress : nullptr,
                        reinterpret_cast<HostValue>(&relay));
  if (r != LoaderResult::Ok) return r;
  picture.infoBlock = takeBlock(info);
  picture.pixelBlock = takeBlock(pixels);
  const bool sane = picture.infoBlock.size() >= kInfoBlockSize &&
                    picture.width() == kPictureWidth && picture.height() == kPictureHeight &&
                    picture.pixelBlock.size() >= static_cast<std::size_t>(kPixelBlockSize);
  return sane ? LoaderResult::Ok : LoaderResult::BadData;
}

}  // namespace

LoaderResult decodeFile(const Plugin& plugin, const std::string& path, DecodedPicture& picture,
                        ProgressSink sink, void* context) {
  return decodeSource(plugin, path.c_str(), 0, kSourceIsFileName, picture, sink, context);
}

LoaderResult decodeMemory(const Plugin& plugin, const std::vector<std::uint8_t>& file,
                          DecodedPicture& picture, ProgressSink sink, void* context) {
  // The interface takes a 32-bit length; no picture of either format comes near it.
  if (file.size() > static_cast<std::size_t>(INT32_MAX)) return LoaderResult::BadData;
  return decodeSource(plugin, reinterpret_cast<const char*>(file.data()),
                      static_cast<std::int32_t>(file.size()), kSourceIsMemory, picture, sink,
                      context);
}

std::string describeResult(LoaderResult result) {
  switch (result) {
    case LoaderResult::Ok:
      return "done (Ok)";
    case LoaderResult::Cancelled:
      return "cancelled (Cancelled)";
    case LoaderResult::UnknownFormat:
      return "not a picture of this format (UnknownFormat)";
    case LoaderResult::BadData:
      return "data ends early (BadData)";
    case LoaderResult::NoMemory:
      return "out of memory (NoMemory)";
    case LoaderResult::LockFailed:
      return "memory could not be locked (LockFailed)";
    case LoaderResult::OpenFailed:
      return "cannot open the file (OpenFailed)";
    case LoaderResult::NotProvided:
      return "not provided by the plug-in (NotProvided)";
  }
  return "unknown result " + std::to_string(static_cast<int>(result));
}

std::string whyNotRecognised(PictureFormat format, const std::vector<std::uint8_t>& file) {
  if (format == PictureFormat::Gra) {
    constexpr std::size_t kHeader = 16;
    if (file.size() < kHeader)
      return "not a GRA picture: only " + std::to_string(file.size()) +
             " bytes, the header alone is 16";
    if (std::memcmp(file.data() + 13, "WED", 3) != 0)
      return "not a GRA picture: no \"WED\" signature at byte 13";
    return "not a GRA picture: the header cannot be read";
  }
  constexpr std::size_t kHeader = 134;
  if (file.size() < kHeader)
    return "not a Q picture: only " + std::to_string(file.size()) +
           " bytes, the header alone is 134";
  const std::size_t table = file[34] == 0 ? 400 : 524;
  if (file.size() < kHeader + table) return "not a Q picture: the file ends inside its table block";
  std::uint32_t declared = file[40] | file[41] << 8 | file[42] << 16;
  std::uint32_t computed = static_cast<std::uint32_t>(kHeader + table);
  for (int k = 0; k < 10; ++k) computed += file[64 + 2 * k] | file[65 + 2 * k] << 8;
  if (declared != computed)
    return "not a Q picture: size field says " + std::to_string(declared) +
           " bytes, header and chunks make " + std::to_string(computed);
  if (std::memcmp(file.data() + 43, "MAJYO", 5) != 0)
    return "not a Q picture: no \"MAJYO\" signature at byte 43";
  return "not a Q picture";
}
