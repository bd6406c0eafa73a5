// SPDX-License-Identifier: MIT
#include "pixbuf/pixbuf_module.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "host/picture.h"
#include "host/reasons.h"

namespace pixbuf_module {

namespace {

using Bytes = host::Bytes;

constexpr std::size_t kReadChunk = 64 * 1024;

// The plug-in of a format, through its exports.
const host::Plugin& pluginOf(Format format) {
  static const host::PluginSet plugins;  // natively the linked-in plug-ins: built once, then read
  return *plugins.byFormat(format);
}

std::string titleOf(Format format) {
  return pluginOf(format).title();
}

// What the first bytes of a file tell, asked with GetPictureInfo and IsSupported: nothing yet
// when the header has not all arrived (or cannot be read), so that the caller asks again with
// more; BadData and why when the header is complete and not of this format; Ok and the
// picture's size in info when it is a picture of this format.
//
// gdk-pixbuf has already chosen the format (by the file's contents or its name), so the
// plug-in's extension test must not turn away a picture stored under another name: its
// signature and size checks decide.
std::optional<host::Result> probeHeader(Format format, const Bytes& file, host::PictureInfo& info) {
  if (file.empty()) return std::nullopt;
  const host::Plugin& plugin = pluginOf(format);
  if (!host::readInfo(plugin, host::PictureFile{"", file}, info)) return std::nullopt;
  if (!host::recognisesContent(plugin, file)) {
    return host::Result{LoaderResult::BadData, host::whyNotTaken(plugin, file)};
  }
  return host::Result{};
}

// The GError code of a failed step: memory, a file that is not a good picture of the format,
// or any other failure.
GdkPixbufError errorCodeOf(LoaderResult code) {
  switch (code) {
    case LoaderResult::NoMemory:
    case LoaderResult::LockFailed:
      return GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
    case LoaderResult::BadData:
    case LoaderResult::UnknownFormat:
      return GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    default:
      return GDK_PIXBUF_ERROR_FAILED;
  }
}

// Recognises and decodes a whole file. With a file name the plug-in reads the picture by name
// (so a GRA picture's companion files beside it count); without one, or when the name can no
// longer be opened, it reads the bytes in memory.
host::Result decodePicture(Format format, const Bytes& file, const std::string& fileName,
                           host::Picture& picture) {
  const std::string title = titleOf(format);
  if (file.empty()) return {LoaderResult::BadData, "not a " + title + ": the file is empty"};
  const host::Plugin& plugin = pluginOf(format);
  if (!host::recognisesContent(plugin, file)) {
    return {LoaderResult::BadData, host::whyNotTaken(plugin, file)};
  }
  // gdk-pixbuf gives a module no way to cancel a load, so the plug-in is never told to stop.
  host::Result r = host::decode(plugin, host::PictureFile{fileName, file}, picture);
  if (!r) r.reason = host::cannotDecode(plugin, r.reason);
  return r;
}

// The name a file is known by when the descriptor behind file still refers to it: a regular
// file whose path, read from /proc/self/fd, names the same device and inode. Empty otherwise
// (a pipe, a memory stream, a file deleted or replaced since it was opened).
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

// Sets error unless an earlier error is already there.
void setError(GError** error, GdkPixbufError code, const std::string& message) {
  if (error && *error) return;
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message.c_str());
}

void setError(GError** error, const host::Result& result) {
  setError(error, errorCodeOf(result.code), result.reason);
}

// Decodes a whole file into a new pixbuf; null with error set on failure.
GdkPixbuf* decodeToPixbuf(Format format, const Bytes& file, const std::string& fileName,
                          GError** error) {
  host::Picture picture;
  if (host::Result r = decodePicture(format, file, fileName, picture); !r) {
    setError(error, r);
    return nullptr;
  }
  const int width = picture.width(), height = picture.height();
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  if (!pixbuf) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
             "not enough memory for a " + std::to_string(width) + " x " + std::to_string(height) +
                 " picture");
    return nullptr;
  }
  // A Q picture's comment, for programs that show a picture's details: its code page 932
  // text, bytes that are no character there written \xNN (host/code_page_932.h).
  if (!picture.info.comment.empty())
    gdk_pixbuf_set_option(pixbuf, "comment", host::commentText(picture.info).c_str());
  const Bytes rgb = picture.rgb();
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < height; ++y) {
    std::memcpy(pixels + static_cast<std::size_t>(y) * stride, rgb.data() + y * rowBytes, rowBytes);
  }
  return pixbuf;
}

// A load through GdkPixbufLoader: the bytes collected so far and the loader's callbacks.
struct IncrementalLoad {
  Format format;
  GdkPixbufModuleSizeFunc sizeFunc;
  GdkPixbufModulePreparedFunc preparedFunc;
  GdkPixbufModuleUpdatedFunc updatedFunc;
  gpointer userData;
  Bytes file;
  bool sizeAnnounced = false;
  bool pixelsWanted = true;  // false once the size function asked for 0 x 0: the size only
  bool failed = false;       // an error went out; nothing more is done
};

// Once the header is in: a file of another kind fails at once; a picture's size goes to the size
// function, which may ask for no pixels at all (as gdk_pixbuf_get_file_info does).
bool announceSize(IncrementalLoad& load, GError** error) {
  if (load.sizeAnnounced) return true;
  host::PictureInfo info;
  const std::optional<host::Result> probe = probeHeader(load.format, load.file, info);
  if (!probe) return true;  // not yet
  if (!*probe) {
    setError(error, *probe);
    return false;
  }
  load.sizeAnnounced = true;
  int width = info.width, height = info.height;
  if (load.sizeFunc) {
    load.sizeFunc(&width, &height, load.userData);
    if (width == 0 || height == 0) load.pixelsWanted = false;
  }
  return true;
}

// What gdk-pixbuf lists of a format, made once from its description and kept for the module's
// life, as gdk-pixbuf keeps the pointers.
struct FormatInfo {
  explicit FormatInfo(const FormatDescription& format)
      : name(format.name),
        description(format.title),
        mimeType(format.mimeType),
        extensions(format.extensions.begin(), format.extensions.end()),
        // gdk-pixbuf compares a pattern's prefix from the file's first byte; mask 'x' skips a
        // byte and ' ' must match, so the signature's offset is spelt as skipped bytes.
        prefix(std::string(format.signature.offset, ' ') + std::string(format.signature.bytes)),
        mask(std::string(format.signature.offset, 'x') +
             std::string(format.signature.bytes.size(), ' ')) {
    signature[0] = {prefix.data(), mask.data(), format.signature.magicPriority};
    signature[1] = {};
    mimeTypes[0] = mimeType.data();
    mimeTypes[1] = nullptr;
    for (std::string& extension : extensions) extensionList.push_back(extension.data());
    extensionList.push_back(nullptr);
  }
  std::string name, description, mimeType;
  std::vector<std::string> extensions;
  std::string prefix, mask;
  GdkPixbufModulePattern signature[2];
  gchar* mimeTypes[2];
  std::vector<gchar*> extensionList;
};

}  // namespace

void describeFormat(Format format, GdkPixbufFormat* info) {
  static FormatInfo graInfo(host::descriptionOf(Format::Gra));
  static FormatInfo qInfo(host::descriptionOf(Format::Q));
  static char domain[] = "planeplugins";
  FormatInfo& of = format == Format::Gra ? graInfo : qInfo;
  info->name = of.name.data();
  info->signature = of.signature;
  info->domain = domain;
  info->description = of.description.data();
  info->mime_types = of.mimeTypes;
  info->extensions = of.extensionList.data();
  // No state is shared between loads, and the platform layer's handle table is locked.
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = nullptr;
}

// The plug-in reads no byte past the largest file of its format, so neither does the module: the
// rest of a longer file is left unread, or dropped as it arrives.
GdkPixbuf* load(Format format, std::FILE* file, GError** error) try {
  const std::size_t largest = host::largestFile(format);
  Bytes bytes;
  Bytes chunk(kReadChunk);
  std::size_t got;
  while (bytes.size() < largest &&
         (got = std::fread(chunk.data(), 1, std::min(chunk.size(), largest - bytes.size()), file)) >
             0) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
  }
  if (std::ferror(file)) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "cannot read the " + titleOf(format));
    return nullptr;
  }
  return decodeToPixbuf(format, bytes, fileNameOf(file), error);
} catch (const std::bad_alloc&) {
  setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to read the file");
  return nullptr;
}

gpointer beginLoad(Format format, GdkPixbufModuleSizeFunc sizeFunc,
                   GdkPixbufModulePreparedFunc preparedFunc, GdkPixbufModuleUpdatedFunc updatedFunc,
                   gpointer userData, GError** error) try {
  return new IncrementalLoad{format, sizeFunc, preparedFunc, updatedFunc, userData, {}};
} catch (const std::bad_alloc&) {
  setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to start loading");
  return nullptr;
}

gboolean loadIncrement(gpointer context, const guchar* bytes, guint size, GError** error) {
  auto& load = *static_cast<IncrementalLoad*>(context);
  if (load.failed) return FALSE;
  if (!load.pixelsWanted) return TRUE;  // only the size was asked for: the rest is not needed
  try {
    const std::size_t room = host::largestFile(load.format) - load.file.size();
    if (room == 0) return TRUE;
    load.file.insert(load.file.end(), bytes, bytes + std::min<std::size_t>(size, room));
    if (!announceSize(load, error)) load.failed = true;
  } catch (const std::bad_alloc&) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to collect the file");
    load.failed = true;
  }
  return !load.failed;
}

gboolean stopLoad(gpointer context, GError** error) {
  std::unique_ptr<IncrementalLoad> load(static_cast<IncrementalLoad*>(context));
  if (load->failed) {
    // The cause went out with load_increment; gdk-pixbuf keeps that first error.
    setError(error, GDK_PIXBUF_ERROR_FAILED,
             "the " + titleOf(load->format) + " could not be loaded");
    return FALSE;
  }
  if (!load->pixelsWanted) return TRUE;
  try {
    if (!announceSize(*load, error)) return FALSE;
    if (!load->pixelsWanted) return TRUE;
    GdkPixbuf* pixbuf = decodeToPixbuf(load->format, load->file, "", error);
    if (!pixbuf) return FALSE;
    const int width = gdk_pixbuf_get_width(pixbuf);
    const int height = gdk_pixbuf_get_height(pixbuf);
    if (load->preparedFunc) load->preparedFunc(pixbuf, nullptr, load->userData);
    if (load->updatedFunc) load->updatedFunc(pixbuf, 0, 0, width, height, load->userData);
    g_object_unref(pixbuf);
    return TRUE;
  } catch (const std::bad_alloc&) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to decode the file");
    return FALSE;
  }
}

}  // namespace pixbuf_module
