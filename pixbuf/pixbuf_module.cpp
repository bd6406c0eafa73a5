// SPDX-License-Identifier: MIT
#include "pixbuf/pixbuf_module.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "gra/gra_format.h"
#include "host/picture.h"
#include "host/reasons.h"
#include "q/q_format.h"

namespace pixbuf_module {

namespace {

using Bytes = host::Bytes;

constexpr std::size_t kReadChunk = 64 * 1024;

// The largest file a module takes: no picture of either format is longer.
constexpr std::size_t kMaxFileBytes = host::kLongestPictureFile;

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
  if (file.empty() || file.size() > kMaxFileBytes) return std::nullopt;
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
  if (file.size() > kMaxFileBytes) {
    return {LoaderResult::BadData, "not a " + title + ": the file is larger than the " +
                                       std::to_string(kMaxFileBytes >> 20) +
                                       " MiB this loader takes"};
  }
  const host::Plugin& plugin = pluginOf(format);
  if (!host::recognisesContent(plugin, file)) {
    return {LoaderResult::BadData, host::whyNotTaken(plugin, file)};
  }
  // gdk-pixbuf gives a module no way to cancel a load, so the plug-in is never told to stop.
  host::Result r = host::decode(plugin, host::PictureFile{fileName, file}, picture);
  if (!r) r.reason = "cannot decode the " + title + ": " + r.reason;
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
  // A Q picture's comment, for programs that show a picture's details. Its bytes come as the
  // picture stores them; what is not UTF-8 among them becomes U+FFFD.
  if (!picture.info.comment.empty()) {
    gchar* comment = g_utf8_make_valid(picture.info.comment.c_str(),
                                       static_cast<gssize>(picture.info.comment.size()));
    gdk_pixbuf_set_option(pixbuf, "comment", comment);
    g_free(comment);
  }
  const Bytes rgb = picture.rgb();
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < height; ++y) {
    std::memcpy(pixels + static_cast<std::size_t>(y) * stride, rgb.data() + y * rowBytes, rowBytes);
  }
  return pixbuf;
}

std::string tooLarge(Format format) {
  return "not a " + titleOf(format) + ": the file is larger than the " +
         std::to_string(kMaxFileBytes >> 20) + " MiB this loader takes";
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

}  // namespace

void describeFormat(Format format, GdkPixbufFormat* info) {
  // gdk-pixbuf compares a pattern's prefix from the file's first byte; mask 'x' skips a byte and
  // ' ' must match, so a signature's offset is spelt as skipped bytes.
  static char graName[] = "gra", qName[] = "q";
  static char graDescription[] = "GRA picture", qDescription[] = "Q picture";
  static char graMime[] = "image/x-gra", qMime[] = "image/x-q-picture";
  static char graExtension[] = "gra", qExtension[] = "q";
  // The patterns are made from the formats' own signatures and their offsets.
  static std::string graPrefix = std::string(offsetof(GraHeader, signature), ' ') +
                                 std::string(std::begin(kGraSignature), std::end(kGraSignature));
  static std::string graMask =
      std::string(offsetof(GraHeader, signature), 'x') + std::string(sizeof kGraSignature, ' ');
  static std::string qPrefix = std::string(qformat::kSignatureOffset, ' ') + qformat::kSignature;
  static std::string qMask =
      std::string(qformat::kSignatureOffset, 'x') + std::string(qformat::kSignatureSize, ' ');
  static char domain[] = "planeplugins";
  // Three letters say less than five: the GRA signature claims a little less certainty.
  static GdkPixbufModulePattern graSignature[] = {{graPrefix.data(), graMask.data(), 80}, {}};
  static GdkPixbufModulePattern qSignature[] = {{qPrefix.data(), qMask.data(), 100}, {}};
  static gchar* graMimes[] = {graMime, nullptr};
  static gchar* qMimes[] = {qMime, nullptr};
  static gchar* graExtensions[] = {graExtension, nullptr};
  static gchar* qExtensions[] = {qExtension, nullptr};

  const bool gra = format == host::PictureFormat::Gra;
  info->name = gra ? graName : qName;
  info->signature = gra ? graSignature : qSignature;
  info->domain = domain;
  info->description = gra ? graDescription : qDescription;
  info->mime_types = gra ? graMimes : qMimes;
  info->extensions = gra ? graExtensions : qExtensions;
  // No state is shared between loads, and the platform layer's handle table is locked.
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = nullptr;
}

GdkPixbuf* load(Format format, std::FILE* file, GError** error) try {
  Bytes bytes;
  Bytes chunk(kReadChunk);
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
    if (bytes.size() + got > kMaxFileBytes) {
      setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, tooLarge(format));
      return nullptr;
    }
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
    if (load.file.size() + size > kMaxFileBytes) {
      setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, tooLarge(load.format));
      load.failed = true;
      return FALSE;
    }
    load.file.insert(load.file.end(), bytes, bytes + size);
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
