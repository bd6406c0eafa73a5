#include "pixbuf/pixbuf_module.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace pixbuf_module {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

// Sets error unless an earlier error is already there.
void setError(GError** error, GdkPixbufError code, const std::string& message) {
  if (error && *error) return;
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message.c_str());
}

void setError(GError** error, const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::NoMemory:
      return setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, outcome.message);
    case Outcome::Kind::NotThisFormat:
    case Outcome::Kind::Corrupt:
      return setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, outcome.message);
    default:
      return setError(error, GDK_PIXBUF_ERROR_FAILED, outcome.message);
  }
}

// Decodes a whole file into a new pixbuf; null with error set on failure.
GdkPixbuf* decodeToPixbuf(Format format, const Bytes& file, const std::string& fileName,
                          GError** error) {
  RgbPicture picture;
  if (Outcome outcome = decodePicture(format, file, fileName, picture); !outcome.ok()) {
    setError(error, outcome);
    return nullptr;
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, picture.width, picture.height);
  if (!pixbuf) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
             "not enough memory for a " + std::to_string(picture.width) + " x " +
                 std::to_string(picture.height) + " picture");
    return nullptr;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(picture.width) * 3;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(pixels + static_cast<std::size_t>(y) * stride, picture.rgb.data() + y * rowBytes,
                rowBytes);
  }
  return pixbuf;
}

std::string tooLarge(Format format) {
  return std::string("not a ") + titleOf(format) + ": the file is larger than the " +
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
  HeaderProbe probe = probeHeader(load.format, load.file);
  if (probe.state == HeaderProbe::State::Incomplete) return true;  // not yet
  if (probe.state == HeaderProbe::State::Foreign) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, probe.why);
    return false;
  }
  load.sizeAnnounced = true;
  int width = probe.width, height = probe.height;
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
  static char graPrefix[] = "             WED";  // "WED" at byte 13
  static char graMask[] = "xxxxxxxxxxxxx   ";
  static char qPrefix[] = "                                           MAJYO";  // at byte 43
  static char qMask[] = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx     ";
  static char domain[] = "planeplugins";
  // Three letters say less than five: the GRA signature claims a little less certainty.
  static GdkPixbufModulePattern graSignature[] = {{graPrefix, graMask, 80}, {}};
  static GdkPixbufModulePattern qSignature[] = {{qPrefix, qMask, 100}, {}};
  static gchar* graMimes[] = {graMime, nullptr};
  static gchar* qMimes[] = {qMime, nullptr};
  static gchar* graExtensions[] = {graExtension, nullptr};
  static gchar* qExtensions[] = {qExtension, nullptr};
  static_assert(sizeof graPrefix == sizeof graMask && sizeof graPrefix == 13 + 3 + 1);
  static_assert(sizeof qPrefix == sizeof qMask && sizeof qPrefix == 43 + 5 + 1);

  const bool gra = format == Format::Gra;
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
    setError(error, GDK_PIXBUF_ERROR_FAILED, std::string("cannot read the ") + titleOf(format));
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
             std::string("the ") + titleOf(load->format) + " could not be loaded");
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
