#include "pixbuf/picture_decoder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "framework/platform.h"
#include "tools/planeconv/picture.h"
#include "tools/planeconv/plugin_host.h"

namespace pixbuf_module {

namespace {

PictureFormat pictureFormatOf(Format format) {
  return format == Format::Gra ? PictureFormat::Gra : PictureFormat::Q;
}

// The plug-in of a format, through its exports.
const Plugin& pluginOf(Format format) {
  static const PluginSet plugins;  // natively the linked-in plug-ins: built once, then read
  return *plugins.byFormat(pictureFormatOf(format));
}

// IsSupported on the file's first 16 KiB, as a host asks. The name it is given carries the
// format's own extension: gdk-pixbuf has already chosen the format (by the file's contents or
// its name), so the plug-in's extension test must not turn away a picture stored under another
// name; its signature and size checks decide.
bool recognised(Format format, const Bytes& file) {
  Bytes block(kRecognitionBlockSize, 0);
  std::copy_n(file.begin(), std::min(file.size(), block.size()), block.begin());
  const char* name = format == Format::Gra ? "picture.gra" : "picture.q";
  return pluginOf(format).isSupported(name, reinterpret_cast<HostValue>(block.data())) != 0;
}

Outcome::Kind kindOf(LoaderResult result) {
  switch (result) {
    case LoaderResult::NoMemory:
    case LoaderResult::LockFailed:
      return Outcome::Kind::NoMemory;
    case LoaderResult::BadData:
    case LoaderResult::UnknownFormat:
      return Outcome::Kind::Corrupt;
    default:
      return Outcome::Kind::Failed;
  }
}

// gdk-pixbuf gives a module no way to cancel a load, so the plug-in is always told to go on.
void keepGoing(int /*done*/, int /*total*/, void* /*context*/) {}

}  // namespace

const char* titleOf(Format format) {
  return format == Format::Gra ? "GRA picture" : "Q picture";
}

HeaderProbe probeHeader(Format format, const Bytes& file) {
  HeaderProbe probe;
  if (file.empty() || file.size() > kMaxFileBytes) return probe;
  PictureInfoRecord info{};
  LoaderResult r = pluginOf(format).getPictureInfo(reinterpret_cast<const char*>(file.data()),
                                                   static_cast<std::int32_t>(file.size()),
                                                   kSourceIsMemory, &info);
  if (r != LoaderResult::Ok) return probe;
  if (info.textHandle) GlobalFree(info.textHandle);  // a Q picture's comment: not shown
  if (!recognised(format, file)) {
    probe.state = HeaderProbe::State::Foreign;
    probe.why = whyNotRecognised(pictureFormatOf(format), file);
    return probe;
  }
  probe.state = HeaderProbe::State::Ready;
  probe.width = info.width;
  probe.height = info.height;
  return probe;
}

Outcome decodePicture(Format format, const Bytes& file, const std::string& fileName,
                      RgbPicture& picture) {
  const std::string title = titleOf(format);
  if (file.empty()) return {Outcome::Kind::NotThisFormat, "not a " + title + ": the file is empty"};
  if (file.size() > kMaxFileBytes) {
    return {Outcome::Kind::NotThisFormat, "not a " + title + ": the file is larger than the " +
                                              std::to_string(kMaxFileBytes >> 20) +
                                              " MiB this loader takes"};
  }
  if (!recognised(format, file)) {
    return {Outcome::Kind::NotThisFormat, whyNotRecognised(pictureFormatOf(format), file)};
  }
  const Plugin& plugin = pluginOf(format);
  DecodedPicture decoded;
  LoaderResult r = LoaderResult::OpenFailed;
  if (!fileName.empty()) r = decodeFile(plugin, fileName, decoded, keepGoing);
  if (r == LoaderResult::OpenFailed) r = decodeMemory(plugin, file, decoded, keepGoing);
  if (r != LoaderResult::Ok) {
    return {kindOf(r), "cannot decode the " + title + ": " + describeResult(r)};
  }

  picture.width = decoded.width();
  picture.height = decoded.height();
  picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
  const Palette palette = decoded.palette();
  std::uint8_t* out = picture.rgb.data();
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x, out += 3) {
      const RgbQuad& colour = palette[decoded.pixel(x, y)];
      out[0] = colour.red;
      out[1] = colour.green;
      out[2] = colour.blue;
    }
  }
  return {};
}

std::string fileNameOf(std::FILE* file) {
  const int descriptor = fileno(file);
  if (descriptor < 0) return "";
  const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
  std::string target(PATH_MAX, '\0');
  const ssize_t length = readlink(link.c_str(), target.data(), target.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return "";
  target.resize(static_cast<std::size_t>(length));
  if (target.front() != '/') return "";  // "pipe:[...]", "socket:[...]", ...
  struct stat opened, named;
  if (fstat(descriptor, &opened) != 0 || stat(target.c_str(), &named) != 0) return "";
  if (!S_ISREG(opened.st_mode) || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    return "";  // deleted ("... (deleted)") or replaced since it was opened
  }
  return target;
}

}  // namespace pixbuf_module
